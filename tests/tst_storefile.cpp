#include "StoreFile.h"
#include "TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(StoreFile::LoadResult)

namespace {
QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
int modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}
QStringList filesIn(const QString &folder, const QString &pattern = QStringLiteral("*"))
{
    QStringList files = QDir(folder).entryList({pattern}, QDir::Files | QDir::Hidden);
    return files.sort(), files;
}

// Fails every write of this process part-way, as a full disk does.
struct FileSizeLimit {
    rlimit old{};
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old);
        const rlimit tiny{bytes, old.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &tiny);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &old), std::signal(SIGXFSZ, handler); }
};

QRegularExpression unreadable(const QString &rest) { return QRegularExpression("unreadable data in .*" + rest); }
}

class TestStoreFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void writeReplacesContentAndLeavesNoOtherFiles()
    {
        TempDataDir dir;
        dir.writeFile(QStringLiteral("h.json.tmp-Ab12Cd"), "torn");
        dir.writeFile(QStringLiteral("h.json.backup"), "user's own");
        dir.writeFile(QStringLiteral("h.json.Backup"), "user's own too");
        const QString path = dir.filePath(QStringLiteral("h.json"));
        QVERIFY(StoreFile::write(path, "first"));
        QVERIFY(StoreFile::write(path, "second"));
        QCOMPARE(contentOf(path), QByteArray("second"));
        QCOMPARE(filesIn(dir.dataFolder()),
                 (QStringList{QStringLiteral("h.json"), QStringLiteral("h.json.Backup"), QStringLiteral("h.json.backup")}));

        // Missing folders are made; a symbolic link stays and its target is replaced.
        const QString real = dir.path() + QStringLiteral("/dotfiles/a/settings.json");
        QVERIFY(StoreFile::write(real, "{}"));
        const QString link = dir.filePath(QStringLiteral("settings.json"));
        QVERIFY(QFile::link(real, link));
        QVERIFY(StoreFile::write(link, "{\"a\":1}"));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(contentOf(real), QByteArray("{\"a\":1}"));
        QCOMPARE(filesIn(QFileInfo(real).absolutePath()), QStringList{QStringLiteral("settings.json")});
    }

    void permissionsOnRewrite_data()
    {
        QTest::addColumn<int>("umaskValue");
        QTest::addColumn<bool>("secret");
        QTest::addColumn<int>("presetMode");
        QTest::newRow("secret, umask 000, was world-readable") << 0 << true << 0644;
        QTest::newRow("secret, umask 022, was world-readable") << 022 << true << 0644;
        QTest::newRow("plain keeps the owner's 0600") << 022 << false << 0600;
    }
    void permissionsOnRewrite()
    {
        QFETCH(int, umaskValue);
        QFETCH(bool, secret);
        QFETCH(int, presetMode);
        TempDataDir dir;
        const auto access = secret ? StoreFile::Access::Secret : StoreFile::Access::Normal;
        const mode_t old = ::umask(mode_t(umaskValue));
        const QString path = dir.filePath(QStringLiteral("passwords.json"));
        QVERIFY(StoreFile::write(path, "[]", access));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(presetMode)), 0);
        QVERIFY(StoreFile::write(path, "[1]", access));
        ::umask(old);
        QCOMPARE(modeOf(path), 0600);
    }

    void failedWriteLeavesOldFileAndNoTemporary_data()
    {
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("read-only folder") << false;
        QTest::newRow("full disk") << true;
    }
    void failedWriteLeavesOldFileAndNoTemporary()
    {
        QFETCH(bool, fullDisk);
        if (!fullDisk && ::geteuid() == 0)
            QSKIP("root ignores folder permissions; the full-disk row covers root");
        TempDataDir dir;
        const QString path = dir.filePath(QStringLiteral("s.json"));
        QVERIFY(StoreFile::write(path, "old"));
        bool written = true;
        if (fullDisk) {
            FileSizeLimit limit(16);
            written = StoreFile::write(path, QByteArray(4096, 'x'));
        } else {
            QFile::setPermissions(dir.dataFolder(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            written = StoreFile::write(path, "new");
            QFile::setPermissions(dir.dataFolder(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        QVERIFY(!written);
        QCOMPARE(contentOf(path), QByteArray("old"));
        QCOMPARE(filesIn(dir.dataFolder()), QStringList{QStringLiteral("s.json")});
    }

    void readJson_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("wantArray");
        QTest::addColumn<StoreFile::LoadResult>("expected");
        using R = StoreFile::LoadResult;
        QTest::newRow("no file") << QByteArray() << true << R::Missing;
        QTest::newRow("array") << QByteArray("[1,2]") << true << R::Loaded;
        QTest::newRow("object") << QByteArray("{\"a\":1}") << false << R::Loaded;
        QTest::newRow("empty file") << QByteArray("") << true << R::Missing;
        QTest::newRow("blank file") << QByteArray(" \n") << true << R::Missing;
        QTest::newRow("one damaged byte") << QByteArray("[{\"url\":\"a\"}x") << true << R::Corrupt;
        QTest::newRow("object where array expected") << QByteArray("{}") << true << R::Corrupt;
        QTest::newRow("array where object expected") << QByteArray("[]") << false << R::Corrupt;
    }
    void readJson()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, wantArray);
        QFETCH(StoreFile::LoadResult, expected);
        const bool corrupt = expected == StoreFile::LoadResult::Corrupt;
        TempDataDir dir;
        if (!content.isNull())
            dir.writeFile(QStringLiteral("x.json"), content);
        if (corrupt)
            QTest::ignoreMessage(QtWarningMsg, unreadable(QStringLiteral("x\\.json")));
        StoreFile::LoadResult result{};
        const QJsonDocument doc = StoreFile::readJson(dir.filePath(QStringLiteral("x.json")),
                                                      wantArray ? StoreFile::JsonType::Array : StoreFile::JsonType::Object,
                                                      &result);
        QCOMPARE(result, expected);
        QCOMPARE(doc.isArray(), wantArray);
        QCOMPARE(QFileInfo::exists(dir.dataFolder()), !content.isNull()); // reading creates no folder
        const QStringList backups = filesIn(dir.dataFolder(), QStringLiteral("x.json.corrupt-*"));
        QCOMPARE(backups.size(), corrupt ? 1 : 0);
        if (corrupt)
            QCOMPARE(dir.readFile(backups.first()), content);
    }

    void damagedFileMetAgainIsNotCopiedAgain()
    {
        TempDataDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        const QString copies = QStringLiteral("settings.json.corrupt-*");
        dir.writeFile(QStringLiteral("settings.json"), "{\"theme\":");
        QTest::ignoreMessage(QtWarningMsg, unreadable(QStringLiteral("kept a copy as")));
        StoreFile::readJson(path, StoreFile::JsonType::Object);
        QTest::ignoreMessage(QtWarningMsg, unreadable(QStringLiteral("a copy is kept as")));
        StoreFile::readJson(path, StoreFile::JsonType::Object);
        QCOMPARE(filesIn(dir.dataFolder(), copies).size(), 1);
        // Different damage later gets its own copy.
        dir.writeFile(QStringLiteral("settings.json"), "{\"theme\":1,");
        QTest::ignoreMessage(QtWarningMsg, unreadable(QStringLiteral("kept a copy as")));
        StoreFile::readJson(path, StoreFile::JsonType::Object);
        QCOMPARE(filesIn(dir.dataFolder(), copies).size(), 2);
    }

    void damagedFileIsMovedWhenNoCopyFits()
    {
        TempDataDir dir;
        const QByteArray damaged = "[" + QByteArray(4096, '1');
        dir.writeFile(QStringLiteral("h.json"), damaged);
        QTest::ignoreMessage(QtWarningMsg, unreadable(QStringLiteral("moved it to")));
        StoreFile::LoadResult result{};
        {
            FileSizeLimit limit(16);
            StoreFile::readJson(dir.filePath(QStringLiteral("h.json")), StoreFile::JsonType::Array, &result);
        }
        QCOMPARE(result, StoreFile::LoadResult::Corrupt);
        const QStringList files = filesIn(dir.dataFolder());
        QCOMPARE(files.size(), 1);
        QVERIFY(files.first().startsWith(QStringLiteral("h.json.corrupt-")));
        QCOMPARE(dir.readFile(files.first()), damaged);
    }


    void byteOrderMarksInsideStringsSurvive()
    {
        TempDataDir dir;
        const QString path = dir.filePath(QStringLiteral("b.json"));
        const QString bom(QChar(0xFEFF));
        QJsonObject record{{bom + QStringLiteral("a"), 2}, {QStringLiteral("a"), 1}, {QStringLiteral("t"), bom + QStringLiteral("x")}};
        QVERIFY(StoreFile::writeJson(path, QJsonDocument(record)));
        StoreFile::LoadResult result{};
        QCOMPARE(StoreFile::readJson(path, StoreFile::JsonType::Object, &result).object(), record);
        QCOMPARE(result, StoreFile::LoadResult::Loaded);
    }
};

QTEST_GUILESS_MAIN(TestStoreFile)
#include "tst_storefile.moc"
