#include "DataManager.h"
#include "StoreFile.h"
#include "TempDataDir.h"

#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

// Stores under a writer SIGKILLed at random moments, a full disk and a
// read-only folder: each file stays one complete version, old or new.
namespace {
constexpr int Records = 50;

// Saves a secret store (the logins) and a plain one (the session), all records
// each time, through the browser's own calls as fast as it can, printing
// "ready <µs per save>" after each pair. Each record of save g holds "@g "
// (inside the password for logins).
int writeUntilKilled(const QStringList &args)
{
    DataManager data(args.value(0));
    const qint64 first = args.value(1).toLongLong();
    QElapsedTimer timer;
    timer.start();
    for (qint64 g = first;; ++g) {
        // Large files widen the window in which a kill lands inside a write.
        const QString mark = QStringLiteral("@%1 ").arg(g) + QString(4000, QLatin1Char('~'));
        QList<DataManager::Login> logins;
        QJsonArray tabs;
        for (int r = 0; r < Records; ++r) {
            logins.append({QStringLiteral("https://slot.test/%1").arg(r), "u", mark});
            tabs.append(QJsonObject{{"url", logins.last().url}, {"title", mark}});
        }
        data.addPasswords(logins);
        data.setSession(tabs);
        QTextStream(stdout) << "ready " << timer.nsecsElapsed() / 1000 / (g - first + 1) << Qt::endl;
    }
}

// The save a store file comes from; -1 when it is not one whole save.
qint64 saveIn(const QByteArray &bytes, bool logins)
{
    QList<qint64> g;
    for (const QJsonValue &r : QJsonDocument::fromJson(bytes).array()) {
        const QString mark = logins ? DataManager::decryptPasswordStatic(r[QLatin1String("password")].toString())
                                    : r[QLatin1String("title")].toString();
        g << mark.mid(1, mark.indexOf(QLatin1Char(' ')) - 1).toLongLong();
    }
    return g.size() == Records && g.count(g.first()) == Records ? g.first() : -1;
}

QMap<QString, QByteArray> snapshot(const TempDataDir &dir)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(dir.dataFolder()).entryList(QDir::Files | QDir::Hidden))
        files.insert(name, dir.readFile(name));
    return files;
}
}

class TestStoreFaults : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // The next successful save sweeps the temporaries of killed ones.
    void killedWriterLeavesOldOrNewVersion()
    {
        TempDataDir dir;
        const int iterations = qEnvironmentVariableIsSet("ORVEX_KILL_ITERATIONS")
            ? qEnvironmentVariableIntValue("ORVEX_KILL_ITERATIONS") : 200;
        qint64 last = -1;
        int killedMidWrite = 0;
        // On a loaded machine the kills may keep missing the writes: go on
        // (bounded) until one has hit a write, the point of the test.
        for (int i = 0; i < iterations || (killedMidWrite == 0 && i < 3 * iterations); ++i) {
            QProcess writer;
            writer.start(QCoreApplication::applicationFilePath(), {"--write", dir.configDir(), QString::number(last + 1)});
            QVERIFY(writer.waitForReadyRead(20000));
            // A random moment within the next few saves; the point of the test, not a wait.
            const qint64 microsPerSave = qMax<qint64>(1, writer.readLine().mid(6).trimmed().toLongLong());
            QThread::usleep(QRandomGenerator::global()->bounded(3 * microsPerSave));
            QCOMPARE(::kill(pid_t(writer.processId()), SIGKILL), 0);
            QVERIFY(writer.waitForFinished(10000));

            const qint64 logins = saveIn(dir.readFile("passwords.json"), true), session = saveIn(dir.readFile("session.json"), false);
            // Each is one whole save, the one reported ready at least; the logins are saved first.
            QVERIFY2(session > last && (logins == session || logins == session + 1),
                     qPrintable(QStringLiteral("run %1: logins %2, session %3").arg(i).arg(logins).arg(session)));
            last = logins;
            killedMidWrite += !QDir(dir.dataFolder()).entryList({"*.json.*"}, QDir::Files | QDir::Hidden).isEmpty();
        }
        QVERIFY(killedMidWrite > 0);
        DataManager data(dir.configDir());
        data.savePasswords();
        data.saveSession();
        QCOMPARE(QDir(dir.dataFolder()).entryList(QDir::Files | QDir::Hidden), (QStringList{"passwords.json", "session.json"}));
    }

    // The tmpfs is mounted in a private mount namespace so nothing reaches the host.
    void failedWritesKeepOldFilesAndChangesInMemory_data()
    {
        QTest::addColumn<int>("room");        // -1: read-only
        QTest::addColumn<QString>("damaged"); // what becomes of a damaged history on loading
        QTest::newRow("full disk, no room") << 0 << "moved it to";
        QTest::newRow("full disk, room for part of a file") << 8192 << "kept a copy as";
        QTest::newRow("read-only") << -1 << "could not keep a copy$";
    }
    void failedWritesKeepOldFilesAndChangesInMemory()
    {
        QFETCH(int, room);
        QFETCH(QString, damaged);
        if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0)
            QSKIP("needs root and a private mount namespace");
        QCOMPARE(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        TempDataDir dir;
        const QByteArray mountPoint = QFile::encodeName(dir.dataFolder());
        QVERIFY(QDir().mkpath(dir.dataFolder()) && ::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=512k,mode=0700") == 0);
        const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
        // Files of 16 kB: no change fits in the room left.
        const QJsonObject login{{"url", "https://site.test/"}, {"username", QString(16000, '#')}};
        QVERIFY(StoreFile::writeJson(dir.filePath("passwords.json"), QJsonDocument(QJsonArray{login}), StoreFile::Access::Secret));
        const QByteArray torn("[{\"url\": \"https://torn.te");
        dir.writeFile("history.json", torn);
        if (room < 0)
            QCOMPARE(::mount(nullptr, mountPoint.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        else { // fills the file system but for `room` bytes
            const int filler = ::open(QFile::encodeName(dir.filePath("zz-filler")).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            struct statvfs fs {};
            QCOMPARE(::statvfs(mountPoint.constData(), &fs), 0);
            QCOMPARE(::posix_fallocate(filler, 0, off_t(fs.f_bavail * fs.f_bsize) - room), 0);
            ::close(filler);
        }
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StoreFile: unreadable data in .*history.json - " + damaged));
        DataManager data(dir.configDir());
        const QMap<QString, QByteArray> before = snapshot(dir);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^DataManager: could not write .*history.json"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^DataManager: could not write .*passwords.json"));
        // A damaged file whose bytes could not be kept is not replaced before they are.
        if (room < 0)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("history.json - could not keep a copy$"));
        data.addHistory("https://new.test/", QString(16000, 'p'));
        data.addPassword("https://new.test/", "ann", "s3cret");
        QCOMPARE(snapshot(dir), before);

        // Room again: saving writes the changes memory kept.
        if (room < 0) {
            QCOMPARE(::mount(nullptr, mountPoint.constData(), nullptr, MS_REMOUNT, nullptr), 0);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("history.json - kept a copy as"));
        } else {
            QVERIFY(QFile::remove(dir.filePath("zz-filler")));
        }
        data.saveHistory();
        data.savePasswords();
        const DataManager reloaded(dir.configDir());
        QCOMPARE(reloaded.getHistory().at(0)[QLatin1String("url")].toString(), "https://new.test/");
        QCOMPARE(reloaded.getPasswords().size(), 2);
        const QStringList copies = QDir(dir.dataFolder()).entryList({"history.json.corrupt-*"}, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(dir.readFile(copies.first()), torn);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The test runs this same program as the writer it kills.
    if (app.arguments().value(1) == QLatin1String("--write"))
        return writeUntilKilled(app.arguments().mid(2));
    TestStoreFaults test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_storefaults.moc"
