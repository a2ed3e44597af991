#include "DataManager.h"
#include "DownloadManager.h"
#include "SearchManager.h"
#include "StoreFile.h"
#include "TempDataDir.h"

#include <QtTest>

#include <csignal>
#include <cstdio>
#include <functional>

// A writer SIGKILLed at random moments leaves each store as one complete
// version, old or new, and the next successful save sweeps its temporaries.
namespace {
// Rewrites one store through the browser's own calls as fast as it can; prints
// "ready <µs per write>" after two timed writes ("once": ends there). Every
// record of generation g holds "@g" once (inside the password for logins).
int writeUntilKilled(const QStringList &args)
{
    const QString config = args.value(0), store = args.value(1);
    qint64 generation = args.value(2).toLongLong();
    const int records = qMax(1, args.value(3).toInt());
    const bool logins = store == QLatin1String("passwords");
    // Large files widen the window in which a kill lands inside a write.
    const auto mark = [](qint64 g, int pad = 300) { return QStringLiteral("@%1 ").arg(g) + QString(pad, QLatin1Char('~')); };
    const auto slot = [&](qint64 g) { return QStringLiteral("https://slot.test/%1").arg(g % records); };
    const auto record = [&](qint64 g) {
        return logins ? QJsonObject{{"url", slot(g)}, {"username", "u"}, {"password", DataManager::encryptPasswordStatic(mark(g))}}
                      : QJsonObject{{"url", slot(g)}, {"title", mark(g)}};
    };
    // A list store starts full: generations 0 .. records-1, newest first (logins oldest first).
    const QString path = config + QStringLiteral("/orvexbrowser/") + store + QStringLiteral(".json");
    if (records > 1 && !QFile::exists(path)) {
        QJsonArray seed;
        for (qint64 g = 0; g < records; ++g)
            logins ? seed.append(record(g)) : seed.prepend(record(g));
        StoreFile::writeJson(path, QJsonDocument(seed), logins ? StoreFile::Access::Secret : StoreFile::Access::Normal);
    }
    DataManager data(config);
    SearchManager search(config);
    DownloadManager downloads(nullptr, config + QStringLiteral("/orvexbrowser"));
    QJsonArray ended = downloads.getDownloadHistory();
    const QHash<QString, std::function<void(qint64)>> steps{
        {"history", [&](qint64 g) { data.addHistory(slot(g), mark(g)); }},
        {"bookmarks", [&](qint64 g) { data.addBookmark(slot(g), mark(g)); }},
        {"passwords", [&](qint64 g) { data.addPassword(slot(g), "u", mark(g)); }},
        // How the manager records an ended download, without a web engine download.
        {"downloads", [&](qint64 g) {
             ended = DownloadManager::prependCapped(ended, record(g));
             StoreFile::writeJson(downloads.getHistoryPath(), QJsonDocument(ended));
         }},
        {"settings", [&](qint64 g) { data.setSettings({{"theme", mark(g, 60000)}}); }},
        {"session", [&](qint64 g) { data.setSession({QJsonObject{{"url", slot(g)}, {"title", mark(g, 60000)}}}); }},
        {"search_engines", [&](qint64 g) { search.setDefaultEngine(mark(g, 60000)); }},
    };
    const std::function<void(qint64)> step = steps.value(store);
    if (!step)
        return 2;
    QElapsedTimer timer;
    timer.start();
    step(generation++);
    step(generation++);
    std::printf("ready %lld\n", static_cast<long long>(timer.nsecsElapsed() / 2000));
    std::fflush(stdout);
    while (args.value(4) != QLatin1String("once"))
        step(generation++);
    return 0;
}

// The generations a store file names, in file order; none when it does not parse.
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
        int progressed = 0, killedMidWrite = 0;
        // The run after the last kill ends by itself after two successful saves.
        for (int i = 0; i <= iterations; ++i) {
            QProcess writer;
            writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            writer.start(QCoreApplication::applicationFilePath(), {"--write", dir.configDir(), store, QString::number(last + 1),
                                                                   QString::number(records), i < iterations ? "" : "once"});
            QVERIFY(writer.waitForReadyRead(20000));
            const QByteArray ready = writer.readLine().trimmed();
            QVERIFY2(ready.startsWith("ready "), ready.constData());
            if (i < iterations) {
                // A random moment within the next few writes; the point of the test, not a wait.
                const qint64 microsPerWrite = qMax<qint64>(1, ready.mid(6).toLongLong());
                QThread::usleep(QRandomGenerator::global()->bounded(3 * microsPerWrite));
                QCOMPARE(::kill(pid_t(writer.processId()), SIGKILL), 0);
            }
            QVERIFY(writer.waitForFinished(10000));

            const QList<qint64> g = generationsIn(dir.readFile(store + QStringLiteral(".json")), store == "passwords");
            QVERIFY2(g.size() == records, qPrintable(QStringLiteral("run %1: %2 of %3 records").arg(i).arg(g.size()).arg(records)));
            for (int k = 1; k < g.size(); ++k)
                QVERIFY2(g.at(k) - g.at(k - 1) == step, qPrintable(QStringLiteral("run %1: a mix of versions").arg(i)));
            const qint64 front = qMax(g.first(), g.last());
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

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The test runs this same program as the writer it kills.
    if (app.arguments().value(1) == QLatin1String("--write"))
        return writeUntilKilled(app.arguments().mid(2));
    TestStoreKill test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_storekill.moc"
