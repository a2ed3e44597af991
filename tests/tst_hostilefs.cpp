#include "DataManager.h"
#include "DownloadManager.h"
#include "SearchManager.h"
#include "StoreFile.h"
#include "TempDataDir.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

// The data folder on a full or read-only file system. Needs root: the test
// moves into a private mount namespace first, so its mounts never reach the
// host and vanish with the process.
namespace {
const QString filler(400, QLatin1Char('#'));

QJsonArray records(const QString &kind, int count)
{
    QJsonArray a;
    for (int i = 0; i < count; ++i)
        a.append(QJsonObject{{QStringLiteral("url"), QStringLiteral("https://%1.test/%2").arg(kind).arg(i)},
                             {QStringLiteral("title"), QStringLiteral("%1 %2 ").arg(kind).arg(i) + filler},
                             {QStringLiteral("username"), QStringLiteral("user%1").arg(i)},
                             {QStringLiteral("password"), DataManager::encryptPasswordStatic(QStringLiteral("pw%1").arg(i))},
                             {QStringLiteral("timestamp"), QStringLiteral("2025-03-01T14:05:09")}});
    return a;
}

// Every file of the data folder with its bytes.
QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        QFile f(folder + QLatin1Char('/') + name);
        if (f.open(QIODevice::ReadOnly))
            files.insert(name, f.readAll());
    }
    return files;
}

void seed(const TempDataDir &dir)
{
    const auto put = [&dir](const char *name, const QJsonDocument &doc) {
        QVERIFY(StoreFile::writeJson(dir.filePath(QString::fromLatin1(name)), doc));
    };
    put("bookmarks.json", QJsonDocument(records(QStringLiteral("mark"), 40)));
    put("history.json", QJsonDocument(records(QStringLiteral("visit"), 40)));
    put("passwords.json", QJsonDocument(records(QStringLiteral("login"), 40)));
    put("settings.json", QJsonDocument(DataManager::defaultSettings()));
    put("session.json", QJsonDocument(records(QStringLiteral("tab"), 40)));
    QJsonArray engines;
    for (int i = 0; i < 40; ++i)
        engines.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("Engine %1 ").arg(i) + filler},
                                   {QStringLiteral("keyword"), QStringLiteral("k%1").arg(i)},
                                   {QStringLiteral("url"), QStringLiteral("https://engine.test/%1?q=%s").arg(i)},
                                   {QStringLiteral("default"), false}});
    put("search_engines.json", QJsonDocument(QJsonObject{{QStringLiteral("default"), QStringLiteral("k0")},
                                                         {QStringLiteral("engines"), engines}}));
    put("downloads.json", QJsonDocument(records(QStringLiteral("file"), 40)));
}

// The download history changes through the engine or by clearing; clearing
// writes a tiny file, which only a disk with no room at all refuses.
void clearDownloads(DownloadManager &downloads)
{
    QCOMPARE(downloads.getDownloadHistory().size(), 40);
    downloads.clearHistory();
    QVERIFY(downloads.getDownloadHistory().isEmpty());
}

// Makes every store change once; each change's new file is larger than the
// room a full disk leaves. Returns how many writes were attempted.
int changeEverything(DataManager &data, SearchManager &search)
{
    data.addBookmark(QStringLiteral("https://new.test/"), QStringLiteral("New ") + filler);
    data.addHistory(QStringLiteral("https://new.test/"), QStringLiteral("New ") + filler);
    data.addPassword(QStringLiteral("https://new.test/"), QStringLiteral("ann"), QStringLiteral("s3cret"));
    QJsonObject settings = DataManager::defaultSettings();
    settings.insert(QStringLiteral("theme"), QStringLiteral("light"));
    settings.insert(QStringLiteral("padding"), QString(16000, QLatin1Char('p')));
    data.setSettings(settings);
    QJsonArray session = data.getSession();
    session.prepend(QJsonObject{{QStringLiteral("url"), QStringLiteral("https://new.test/")}});
    data.setSession(session);
    search.addEngine(SearchEngine(QStringLiteral("New"), QStringLiteral("new"), QStringLiteral("https://new.test/?q=%s")));
    search.setDefaultEngine(QStringLiteral("new"));
    return 7;
}

void expectFailedWrites()
{
    for (int i = 0; i < 5; ++i)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^DataManager: could not write .*")));
    for (int i = 0; i < 2; ++i)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^SearchManager: could not write .*")));
}

void verifyMemoryHasChanges(const DataManager &data, const SearchManager &search)
{
    QCOMPARE(data.getBookmarks().at(0)[QLatin1String("url")].toString(), QStringLiteral("https://new.test/"));
    QCOMPARE(data.getHistory().at(0)[QLatin1String("url")].toString(), QStringLiteral("https://new.test/"));
    QCOMPARE(DataManager::decryptPasswordStatic(data.getPasswords().last()[QLatin1String("password")].toString()),
             QStringLiteral("s3cret"));
    QCOMPARE(data.getSettings().value(QLatin1String("theme")).toString(), QStringLiteral("light"));
    QCOMPARE(data.getSession().at(0)[QLatin1String("url")].toString(), QStringLiteral("https://new.test/"));
    QCOMPARE(search.defaultEngine().keyword, QStringLiteral("new"));
    QCOMPARE(search.searchUrl(QStringLiteral("a b")), QUrl(QStringLiteral("https://new.test/?q=a%20b")));
}

QStringList temporaries(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.tmp-*")}, QDir::Files | QDir::Hidden);
}

bool mountTmpfs(const QString &path, const QByteArray &options)
{
    return ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0;
}

// Fills the file system holding folder, then gives back `room` bytes.
void fill(const QString &folder, off_t room)
{
    const QByteArray name = QFile::encodeName(folder + QStringLiteral("/zz-filler"));
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    QVERIFY(fd >= 0);
    const QByteArray block(4096, 'f');
    off_t size = 0;
    for (;;) {
        const ssize_t n = ::write(fd, block.constData(), size_t(block.size()));
        if (n <= 0)
            break;
        size += n;
    }
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
        if (::geteuid() != 0)
            QSKIP("needs root for a private mount namespace");
        if (::unshare(CLONE_NEWNS) != 0)
            QSKIP("no private mount namespace here");
        // Nothing mounted from now on propagates to the host.
        QCOMPARE(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    }

    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void fullDiskKeepsOldFilesAndChangesInMemory_data()
    {
        QTest::addColumn<int>("room");
        QTest::newRow("no room") << 0;
        QTest::newRow("room for part of a file") << 8192;
    }

    void fullDiskKeepsOldFilesAndChangesInMemory()
    {
        QFETCH(int, room);
        TempDataDir dir;
        QVERIFY(QDir().mkpath(dir.dataFolder()));
        QVERIFY(mountTmpfs(dir.dataFolder(), "size=512k,mode=0700"));
        const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(dir.dataFolder()).constData(), MNT_DETACH); });
        seed(dir);
        DataManager data(dir.configDir());
        SearchManager search(dir.configDir());
        DownloadManager downloads(nullptr, dir.dataFolder());
        QCOMPARE(data.getBookmarks().size(), 40);
        QCOMPARE(search.searchEngines().size(), 40);
        fill(dir.dataFolder(), room);
        const QMap<QString, QByteArray> before = snapshot(dir.dataFolder());

        expectFailedWrites();
        QCOMPARE(changeEverything(data, search), 7);
        if (room == 0)
            clearDownloads(downloads);
        QCOMPARE(snapshot(dir.dataFolder()), before);
        QCOMPARE(temporaries(dir.dataFolder()), QStringList());
        verifyMemoryHasChanges(data, search);

        // Room again: the next change writes everything that memory holds.
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("zz-filler"))));
        data.addBookmark(QStringLiteral("https://later.test/"), QStringLiteral("Later"));
        DataManager reloaded(dir.configDir());
        QCOMPARE(reloaded.getBookmarks(), data.getBookmarks());
        QCOMPARE(reloaded.getBookmarks().size(), 42);
        QCOMPARE(temporaries(dir.dataFolder()), QStringList());
    }

    void readOnlyFolderKeepsFilesAndChangesInMemory()
    {
        TempDataDir dir;
        QVERIFY(QDir().mkpath(dir.dataFolder()));
        QVERIFY(mountTmpfs(dir.dataFolder(), "size=4m,mode=0700"));
        const QByteArray mountPoint = QFile::encodeName(dir.dataFolder());
        const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
        seed(dir);
        dir.writeFile(QStringLiteral("history.json"), "[{\"url\": \"https://torn.te");
        QCOMPARE(::mount(nullptr, mountPoint.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        const QMap<QString, QByteArray> before = snapshot(dir.dataFolder());

        // The damaged history can be neither copied nor moved aside: it stays.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^StoreFile: unreadable data in .*history.json - could not keep a copy$")));
        DataManager data(dir.configDir());
        SearchManager search(dir.configDir());
        DownloadManager downloads(nullptr, dir.dataFolder());
        QVERIFY(data.getHistory().isEmpty());
        QCOMPARE(data.getPasswords().size(), 40);

        expectFailedWrites();
        QCOMPARE(changeEverything(data, search), 7);
        clearDownloads(downloads);
        QCOMPARE(snapshot(dir.dataFolder()), before);
        verifyMemoryHasChanges(data, search);
    }
};

QTEST_GUILESS_MAIN(TestHostileFs)
#include "tst_hostilefs.moc"
