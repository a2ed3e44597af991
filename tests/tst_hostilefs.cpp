#include "DataManager.h"
#include "DownloadManager.h"
#include "SearchManager.h"
#include "StoreFile.h"
#include "TempDataDir.h"

#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

// The data folder on a full or read-only tmpfs, mounted in a private mount
// namespace so nothing reaches the host.
namespace {
QMap<QString, QByteArray> snapshot(const TempDataDir &dir)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(dir.dataFolder()).entryList(QDir::Files | QDir::Hidden))
        files.insert(name, dir.readFile(name));
    return files;
}

// Fills the file system holding folder, then gives back `room` bytes.
void fill(const QString &folder, off_t room)
{
    const QByteArray name = QFile::encodeName(folder + QStringLiteral("/zz-filler"));
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    QVERIFY(fd >= 0);
    const QByteArray block(4096, 'f');
    off_t size = 0;
    for (ssize_t n; (n = ::write(fd, block.constData(), size_t(block.size()))) > 0;)
        size += n;
    QCOMPARE(errno, ENOSPC);
    QCOMPARE(::ftruncate(fd, qMax<off_t>(0, size - room)), 0);
    ::close(fd);
}
}

class TestHostileFs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0)
            QSKIP("needs root and a private mount namespace");
        QCOMPARE(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    }

    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

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
        TempDataDir dir;
        const QByteArray mountPoint = QFile::encodeName(dir.dataFolder());
        QVERIFY(QDir().mkpath(dir.dataFolder()));
        QCOMPARE(::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=512k,mode=0700"), 0);
        const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
        // Files of tens of kilobytes: no change fits in the room left.
        const QString filler(400, QLatin1Char('#'));
        QJsonArray records;
        for (int i = 0; i < 40; ++i)
            records.append(QJsonObject{{"url", QStringLiteral("https://site.test/%1").arg(i)}, {"name", filler}, {"keyword", "k"}});
        for (const char *name : {"bookmarks", "passwords", "session", "downloads"})
            QVERIFY(StoreFile::writeJson(dir.filePath(name + QStringLiteral(".json")), QJsonDocument(records)));
        QVERIFY(StoreFile::writeJson(dir.filePath("settings.json"), QJsonDocument(DataManager::defaultSettings())));
        QVERIFY(StoreFile::writeJson(dir.filePath("search_engines.json"), QJsonDocument(QJsonObject{{"engines", records}})));
        dir.writeFile("history.json", "[{\"url\": \"https://torn.te");
        if (room < 0)
            QCOMPARE(::mount(nullptr, mountPoint.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        else
            fill(dir.dataFolder(), room);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StoreFile: unreadable data in .*history.json - " + damaged));
        DataManager data(dir.configDir());
        SearchManager search(dir.configDir());
        DownloadManager downloads(nullptr, dir.dataFolder());
        QVERIFY(data.getBookmarks().size() == 40 && search.searchEngines().size() == 40
                && downloads.getDownloadHistory().size() == 40);
        const QMap<QString, QByteArray> before = snapshot(dir);

        for (int i = 0; i < 7; ++i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(i < 5 ? "^DataManager: could not write" : "^SearchManager: could not write"));
        // A damaged file whose bytes could not be kept is not replaced before they are.
        const bool unkept = room < 0;
        if (unkept)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("history.json - could not keep a copy$"));
        const QString fresh = QStringLiteral("https://new.test/"), large(16000, QLatin1Char('p'));
        data.addBookmark(fresh, filler);
        data.addHistory(fresh, large);
        data.addPassword(fresh, "ann", "s3cret");
        data.setSettings(QJsonObject{{"theme", "light"}, {"padding", large}});
        QJsonArray session = data.getSession();
        session.prepend(QJsonObject{{"url", fresh}});
        data.setSession(session);
        search.addEngine(SearchEngine("New", "new", fresh + QStringLiteral("?q=%s")));
        search.setDefaultEngine("new");
        // Clearing writes a tiny file, which only a disk with no room at all refuses.
        if (room <= 0)
            downloads.clearHistory();

        const QMap<QString, QByteArray> after = snapshot(dir);
        QCOMPARE(after.keys(), before.keys());
        for (const QString &name : before.keys())
            QVERIFY2(after.value(name) == before.value(name), qPrintable(name));
        QCOMPARE(search.searchUrl("a b"), QUrl("https://new.test/?q=a%20b"));

        // Room again: saving writes the changes memory kept.
        if (room < 0)
            QCOMPARE(::mount(nullptr, mountPoint.constData(), nullptr, MS_REMOUNT, nullptr), 0);
        else
            QVERIFY(QFile::remove(dir.filePath("zz-filler")));
        if (unkept)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("history.json - kept a copy as"));
        data.saveBookmarks();
        data.saveHistory();
        data.savePasswords();
        data.saveSettings();
        data.saveSession();
        const DataManager reloaded(dir.configDir());
        for (const QJsonArray &list : {reloaded.getBookmarks(), reloaded.getHistory(), reloaded.getSession()})
            QCOMPARE(list.at(0)[QLatin1String("url")].toString(), fresh);
        QCOMPARE(reloaded.getPasswords().last()[QLatin1String("username")].toString(), QStringLiteral("ann"));
        QCOMPARE(reloaded.getSettings().value("theme").toString(), QStringLiteral("light"));
        QCOMPARE(QDir(dir.dataFolder()).entryList({"*.tmp-*"}, QDir::Files | QDir::Hidden), QStringList());
        const QStringList copies = QDir(dir.dataFolder()).entryList({"history.json.corrupt-*"}, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(dir.readFile(copies.first()), QByteArray("[{\"url\": \"https://torn.te"));
    }
};

QTEST_GUILESS_MAIN(TestHostileFs)
#include "tst_hostilefs.moc"
