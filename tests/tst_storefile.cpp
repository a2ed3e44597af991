#include "StoreFile.h"
#include "TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

class TestStoreFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void writeCreatesFoldersAndReplacesContent()
    {
        TempDataDir dir;
        const QString path = dir.filePath(QStringLiteral("a/b/store.json"));
        QVERIFY(StoreFile::write(path, "first"));
        QVERIFY(StoreFile::write(path, "second"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("second"));
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("store.json")});
    }

    void secretFilesStayPrivateWhateverTheUmask_data()
    {
        QTest::addColumn<int>("umaskValue");
        QTest::newRow("permissive 000") << 0;
        QTest::newRow("usual 022") << 022;
    }
    void secretFilesStayPrivateWhateverTheUmask()
    {
        QFETCH(int, umaskValue);
        TempDataDir dir;
        const mode_t old = ::umask(mode_t(umaskValue));
        const QString path = dir.filePath(QStringLiteral("passwords.json"));
        QVERIFY(StoreFile::write(path, "[]", StoreFile::Access::Secret));
        // An existing world-readable file is tightened on rewrite too.
        QFile::setPermissions(path, QFileDevice::Permissions(0x6644));
        QVERIFY(StoreFile::write(path, "[1]", StoreFile::Access::Secret));
        ::umask(old);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
    }

    void unwritableFolderLeavesOldFile()
    {
        if (::geteuid() == 0)
            QSKIP("root ignores folder permissions; the full-disk case covers root");
        TempDataDir dir;
        const QString path = dir.filePath(QStringLiteral("s.json"));
        QVERIFY(StoreFile::write(path, "old"));
        QFile::setPermissions(dir.dataFolder(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QVERIFY(!StoreFile::write(path, "new"));
        QFile::setPermissions(dir.dataFolder(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("old"));
    }

    void fullDiskLeavesOldFileAndNoTemporary()
    {
        TempDataDir dir;
        const QString path = dir.filePath(QStringLiteral("s.json"));
        QVERIFY(StoreFile::write(path, "old"));
        // A file size limit fails the write part-way, as a full disk would.
        struct rlimit old {};
        ::getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit tiny = old;
        tiny.rlim_cur = 16;
        auto previous = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &tiny);
        const bool written = StoreFile::write(path, QByteArray(4096, 'x'));
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        QVERIFY(!written);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("old"));
        QCOMPARE(QDir(dir.dataFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("s.json")});
    }

    void readJson_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("wantArray");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("backupKept");
        QTest::newRow("array") << QByteArray("[1,2]") << true << int(StoreFile::LoadResult::Loaded) << false;
        QTest::newRow("object") << QByteArray("{\"a\":1}") << false << int(StoreFile::LoadResult::Loaded) << false;
        QTest::newRow("empty file") << QByteArray("") << true << int(StoreFile::LoadResult::Missing) << false;
        QTest::newRow("blank file") << QByteArray(" \n") << true << int(StoreFile::LoadResult::Missing) << false;
        QTest::newRow("one damaged byte") << QByteArray("[{\"url\":\"a\"}x") << true << int(StoreFile::LoadResult::Corrupt) << true;
        QTest::newRow("object where array expected") << QByteArray("{}") << true << int(StoreFile::LoadResult::Corrupt) << true;
        QTest::newRow("array where object expected") << QByteArray("[]") << false << int(StoreFile::LoadResult::Corrupt) << true;
    }
    void readJson()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, wantArray);
        QFETCH(int, expected);
        QFETCH(bool, backupKept);
        TempDataDir dir;
        dir.writeFile(QStringLiteral("x.json"), content);
        if (backupKept)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("unreadable data in .*x\\.json")));
        StoreFile::LoadResult result{};
        const QJsonDocument doc = StoreFile::readJson(dir.filePath(QStringLiteral("x.json")),
                                                      wantArray ? StoreFile::JsonType::Array : StoreFile::JsonType::Object,
                                                      &result);
        QCOMPARE(int(result), expected);
        QCOMPARE(doc.isArray(), wantArray);
        const QStringList backups = QDir(dir.dataFolder()).entryList({QStringLiteral("x.json.corrupt-*")}, QDir::Files);
        QCOMPARE(backups.size(), backupKept ? 1 : 0);
        if (backupKept) {
            QFile b(dir.filePath(backups.first()));
            QVERIFY(b.open(QIODevice::ReadOnly));
            QCOMPARE(b.readAll(), content);
        }
    }

    void missingFile()
    {
        TempDataDir dir;
        StoreFile::LoadResult result{};
        StoreFile::readJson(dir.filePath(QStringLiteral("none.json")), StoreFile::JsonType::Array, &result);
        QCOMPARE(result, StoreFile::LoadResult::Missing);
        QVERIFY(!QFileInfo::exists(dir.dataFolder()));
    }

    void rewriteKeepsOwnersPermissions()
    {
        TempDataDir dir;
        const QString path = dir.filePath(QStringLiteral("history.json"));
        QVERIFY(StoreFile::write(path, "[]"));
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(StoreFile::write(path, "[1]"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
    }

    void symbolicLinkIsKeptAndItsTargetReplaced()
    {
        TempDataDir dir;
        const QString real = dir.path() + QStringLiteral("/dotfiles/settings.json");
        QVERIFY(StoreFile::write(real, "{}"));
        const QString link = dir.filePath(QStringLiteral("settings.json"));
        QVERIFY(QDir().mkpath(dir.dataFolder()));
        QVERIFY(QFile::link(real, link));
        QVERIFY(StoreFile::write(link, "{\"a\":1}"));
        QVERIFY(QFileInfo(link).isSymLink());
        QFile f(real);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("{\"a\":1}"));
        QCOMPARE(QDir(QFileInfo(real).absolutePath()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("settings.json")});
    }

    void damagedFileMetAgainIsNotCopiedAgain()
    {
        TempDataDir dir;
        dir.writeFile(QStringLiteral("settings.json"), "{\"theme\":");
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("unreadable data in .*kept a copy as")));
        StoreFile::readJson(path, StoreFile::JsonType::Object);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("unreadable data in .*a copy is kept as")));
        StoreFile::readJson(path, StoreFile::JsonType::Object);
        QCOMPARE(QDir(dir.dataFolder()).entryList({QStringLiteral("settings.json.corrupt-*")}, QDir::Files).size(), 1);

        // Different damage later gets its own copy.
        dir.writeFile(QStringLiteral("settings.json"), "{\"theme\":1,");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("unreadable data in .*kept a copy as")));
        StoreFile::readJson(path, StoreFile::JsonType::Object);
        QCOMPARE(QDir(dir.dataFolder()).entryList({QStringLiteral("settings.json.corrupt-*")}, QDir::Files).size(), 2);
    }

    void damagedFileIsMovedWhenNoCopyFits()
    {
        TempDataDir dir;
        const QByteArray damaged = "[" + QByteArray(4096, '1');
        dir.writeFile(QStringLiteral("h.json"), damaged);
        struct rlimit old {};
        ::getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit tiny = old;
        tiny.rlim_cur = 16;
        auto previous = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &tiny);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("unreadable data in .*moved it to")));
        StoreFile::LoadResult result{};
        StoreFile::readJson(dir.filePath(QStringLiteral("h.json")), StoreFile::JsonType::Array, &result);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        QCOMPARE(result, StoreFile::LoadResult::Corrupt);
        const QStringList files = QDir(dir.dataFolder()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files.size(), 1);
        QVERIFY(files.first().startsWith(QStringLiteral("h.json.corrupt-")));
        QCOMPARE(dir.readFile(files.first()), damaged);
    }

    void staleTemporariesGoAfterNextSave()
    {
        TempDataDir dir;
        const QString path = dir.filePath(QStringLiteral("h.json"));
        dir.writeFile(QStringLiteral("h.json.tmp-Ab12Cd"), "torn");
        dir.writeFile(QStringLiteral("h.json.backup"), "user's own");
        dir.writeFile(QStringLiteral("h.json.Backup"), "user's own too");
        QVERIFY(StoreFile::write(path, "[]"));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("h.json.tmp-Ab12Cd"))));
        QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("h.json.backup"))));
        QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("h.json.Backup"))));
    }
};

QTEST_GUILESS_MAIN(TestStoreFile)
#include "tst_storefile.moc"
