// Test helper: records visits into a full history as fast as it can, until
// killed. Argument: the configuration folder holding orvexbrowser/history.json.
// Visit n has the address "https://visit.test/<n>" and a title beginning
// "Visit <n> ", so any version of the file is a run of consecutive numbers.
#include "DataManager.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonValue>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    DataManager data(app.arguments().value(1));
    const QString front = data.getHistory().at(0)[QLatin1String("url")].toString();
    qint64 next = front.section(QLatin1Char('/'), -1).toLongLong() + 1;
    const QString filler(300, QLatin1Char('~'));

    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    for (;;) {
        data.addHistory(QStringLiteral("https://visit.test/%1").arg(next),
                        QStringLiteral("Visit %1 ").arg(next) + filler);
        ++next;
    }
}
