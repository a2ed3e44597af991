#include "DataManager.h"
#include "DownloadManager.h"
#include "TempDataDir.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

// A writer SIGKILLed at random moments leaves each store as one complete
// version, old or new, and the next successful save sweeps its temporaries.
namespace {
// The generations a store file names ("@g", one per record) in file order;
// none when the file does not parse.
QList<qint64> generationsIn(const QByteArray &bytes, bool logins)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return {};
    QString text = QString::fromUtf8(bytes);
    if (logins) {
        text.clear();
        for (const QJsonValue &login : doc.array())
            text += DataManager::decryptPasswordStatic(login[QLatin1String("password")].toString());
    }
    QList<qint64> generations;
    for (auto it = QRegularExpression(QStringLiteral("@(\\d+)")).globalMatch(text); it.hasNext();)
        generations << it.next().captured(1).toLongLong();
    return generations;
}
}

class TestStoreKill : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void killedWriterLeavesOldOrNewVersion_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("step"); // generation difference from one record to the next
        QTest::newRow("history") << DataManager::MaxHistoryEntries << -1;
        QTest::newRow("bookmarks") << 200 << -1;
        QTest::newRow("passwords") << 200 << 1; // a replaced login moves to the end
        QTest::newRow("downloads") << DownloadManager::maxHistory << -1;
        QTest::newRow("settings") << 1 << 0;
        QTest::newRow("session") << 1 << 0;
        QTest::newRow("search_engines") << 1 << 0;
    }
    void killedWriterLeavesOldOrNewVersion()
    {
        QFETCH(int, records);
        QFETCH(int, step);
        const QString store = QString::fromLatin1(QTest::currentDataTag());
        TempDataDir dir;
        const int iterations = qEnvironmentVariableIsSet("ORVEX_KILL_ITERATIONS")
            ? qEnvironmentVariableIntValue("ORVEX_KILL_ITERATIONS") : 200;
        qint64 last = records - 1;
        int progressed = 0;
        int killedMidWrite = 0;
        // The run after the last kill ends by itself after two successful saves.
        for (int i = 0; i <= iterations; ++i) {
            QProcess writer;
            writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            writer.start(QStringLiteral(ORVEX_STOREKILLER), {dir.configDir(), store, QString::number(last + 1),
                                                            QString::number(records), i < iterations ? "" : "once"});
            QVERIFY(writer.waitForReadyRead(20000));
            const QByteArray ready = writer.readLine().trimmed();
            QVERIFY2(ready.startsWith("ready "), ready.constData());
            if (i < iterations) {
                // A random moment within the next few writes; the point of the test, not a wait.
                const qint64 microsPerWrite = qMax<qint64>(1, ready.mid(6).toLongLong());
                std::this_thread::sleep_for(std::chrono::microseconds(QRandomGenerator::global()->bounded(3 * microsPerWrite)));
                QCOMPARE(::kill(pid_t(writer.processId()), SIGKILL), 0);
            }
            QVERIFY(writer.waitForFinished(10000));

            const QList<qint64> g = generationsIn(dir.readFile(store + QStringLiteral(".json")), store == "passwords");
            QVERIFY2(g.size() == records, qPrintable(QStringLiteral("run %1: %2 of %3 records").arg(i).arg(g.size()).arg(records)));
            for (int k = 1; k < g.size(); ++k)
                QVERIFY2(g.at(k) - g.at(k - 1) == step, qPrintable(QStringLiteral("run %1: a mix of versions").arg(i)));
            const qint64 front = *std::max_element(g.cbegin(), g.cend());
            QVERIFY(front >= last + 2); // the two timed writes are complete
            progressed += front > last + 2;
            last = front;
            killedMidWrite += !QDir(dir.dataFolder()).entryList({store + QStringLiteral(".json.*")}, QDir::Files | QDir::Hidden).isEmpty();
        }
        qInfo("%s: %d kills, %d after further progress, %d mid-write", qPrintable(store), iterations, progressed, killedMidWrite);
        QVERIFY(progressed >= iterations / 10);
        QVERIFY(killedMidWrite > 0);
        QCOMPARE(QDir(dir.dataFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{store + QStringLiteral(".json")});
    }
};

QTEST_GUILESS_MAIN(TestStoreKill)
#include "tst_storekill.moc"
