#include "DataManager.h"
#include "StoreFile.h"
#include "TempDataDir.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

namespace {
const QString filler(300, QLatin1Char('~'));

QJsonObject visit(qint64 n)
{
    return QJsonObject{{QStringLiteral("url"), QStringLiteral("https://visit.test/%1").arg(n)},
                       {QStringLiteral("title"), QStringLiteral("Visit %1 ").arg(n) + filler},
                       {QStringLiteral("timestamp"), QStringLiteral("2025-03-01T14:05:09")}};
}

// Empty when bytes are one complete version written by the helper: 1000
// visits numbered front, front-1, ...
QString versionProblem(const QByteArray &bytes, qint64 *front)
{
    QJsonArray history = QJsonDocument::fromJson(bytes).array();
    *front = history.at(0)[QLatin1String("url")].toString().section(QLatin1Char('/'), -1).toLongLong();
    QJsonArray expected;
    for (qint64 n = *front; n > *front - DataManager::MaxHistoryEntries; --n)
        expected.append(visit(n));
    for (int i = 0; i < history.size(); ++i) {
        QJsonObject record = history.at(i).toObject();
        record.insert(QStringLiteral("timestamp"), QStringLiteral("2025-03-01T14:05:09"));
        history[i] = record;
    }
    return history == expected ? QString() : QStringLiteral("is damaged or mixed (%1 bytes)").arg(bytes.size());
}

QStringList temporariesIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("history.json.*")}, QDir::Files | QDir::Hidden);
}
}

class TestStoreCrash : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void killedWriterLeavesOldOrNewHistory()
    {
        TempDataDir dir;
        const QString path = dir.filePath(QStringLiteral("history.json"));
        QJsonArray seed;
        for (qint64 n = DataManager::MaxHistoryEntries - 1; n >= 0; --n)
            seed.append(visit(n));
        QVERIFY(StoreFile::writeJson(path, QJsonDocument(seed)));

        const int iterations = qEnvironmentVariableIsSet("ORVEX_KILL_ITERATIONS")
            ? qEnvironmentVariableIntValue("ORVEX_KILL_ITERATIONS") : 200;
        // A sanitized writer is several times slower: the window grows with it.
        const int windowMs = qEnvironmentVariableIsSet("ORVEX_KILL_WINDOW_MS")
            ? qEnvironmentVariableIntValue("ORVEX_KILL_WINDOW_MS") : 12;
        qint64 lastFront = DataManager::MaxHistoryEntries - 1;
        int progressed = 0;
        int killedMidWrite = 0;
        for (int i = 0; i < iterations; ++i) {
            QProcess writer;
            writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            writer.start(QStringLiteral(ORVEX_STOREWRITER), {dir.configDir()});
            QVERIFY(writer.waitForStarted());
            QVERIFY(writer.waitForReadyRead(10000));
            QCOMPARE(writer.readLine(), QByteArray("ready\n"));
            // A random moment inside the write loop; the point of the test, not a wait.
            QTest::qSleep(int(QRandomGenerator::global()->bounded(windowMs)));
            QCOMPARE(::kill(pid_t(writer.processId()), SIGKILL), 0);
            QVERIFY(writer.waitForFinished(10000));

            qint64 front = -1;
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString problem = versionProblem(file.readAll(), &front);
            QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("kill %1: history.json %2").arg(i).arg(problem)));
            QVERIFY(front >= lastFront);
            progressed += front > lastFront;
            lastFront = front;
            killedMidWrite += !temporariesIn(dir.dataFolder()).isEmpty();
        }
        qInfo("%d kills: %d after progress, %d mid-write", iterations, progressed, killedMidWrite);
        QVERIFY(progressed >= iterations / 10);
        QVERIFY(killedMidWrite > 0);

        // The next successful save sweeps what the kills left behind.
        DataManager data(dir.configDir());
        QCOMPARE(data.getHistory().size(), DataManager::MaxHistoryEntries);
        data.addHistory(QStringLiteral("https://after.test/"), QStringLiteral("After"));
        QCOMPARE(QDir(dir.dataFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("history.json")});
    }
};

QTEST_GUILESS_MAIN(TestStoreCrash)
#include "tst_storecrash.moc"
