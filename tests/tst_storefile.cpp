#include "StoreFile.h"
#include "TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

Q_DECLARE_METATYPE(StoreFile::LoadResult)

namespace {
QStringList filesIn(const QString &folder, const QString &pattern = QStringLiteral("*"))
{
    return QDir(folder).entryList({pattern}, QDir::Files | QDir::Hidden, QDir::Name);
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

    void writeIsAtomicAndSecretsStayPrivate()
    {
        TempDataDir dir;
        dir.writeFile(QStringLiteral("h.json.tmp-Ab12Cd"), "torn");
        dir.writeFile(QStringLiteral("h.json.backup"), "user's own");
        const QString path = dir.filePath(QStringLiteral("h.json"));
        const mode_t oldMask = ::umask(0);
        QVERIFY(StoreFile::write(path, "first", StoreFile::Access::Secret));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0644), 0);
        QVERIFY(StoreFile::write(path, "second", StoreFile::Access::Secret));
        ::umask(oldMask);
        QCOMPARE(dir.readFile(QStringLiteral("h.json")), QByteArray("second"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QCOMPARE(filesIn(dir.dataFolder()), (QStringList{QStringLiteral("h.json"), QStringLiteral("h.json.backup")}));
        {
            FileSizeLimit limit(16);
            QVERIFY(!StoreFile::write(path, QByteArray(4096, 'x')));
        }
        QCOMPARE(dir.readFile(QStringLiteral("h.json")), QByteArray("second"));
        QCOMPARE(filesIn(dir.dataFolder()), (QStringList{QStringLiteral("h.json"), QStringLiteral("h.json.backup")}));

        // A symbolic link stays and its target is replaced.
        const QString real = dir.path() + QStringLiteral("/dotfiles/a/settings.json");
        QVERIFY(StoreFile::write(real, "{}"));
        const QString link = dir.filePath(QStringLiteral("settings.json"));
        QVERIFY(QFile::link(real, link));
        QVERIFY(StoreFile::write(link, "{\"a\":1}"));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(filesIn(QFileInfo(real).absolutePath()), QStringList{QStringLiteral("settings.json")});
    }

    void readJson_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("wantArray");
        QTest::addColumn<StoreFile::LoadResult>("expected");
        using R = StoreFile::LoadResult;
        QTest::newRow("no file") << QByteArray() << true << R::Missing;
        QTest::newRow("array") << QByteArray("[1,2]") << true << R::Loaded;
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
        QCOMPARE(QFileInfo::exists(dir.dataFolder()), !content.isNull());
        const QStringList backups = filesIn(dir.dataFolder(), QStringLiteral("x.json.corrupt-*"));
        QCOMPARE(backups.size(), corrupt ? 1 : 0);
        if (corrupt)
            QCOMPARE(dir.readFile(backups.first()), content);
    }

    void damagedFileIsCopiedOncePerDamage()
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
        {
            FileSizeLimit limit(16);
            StoreFile::readJson(dir.filePath(QStringLiteral("h.json")), StoreFile::JsonType::Array);
        }
        const QStringList files = filesIn(dir.dataFolder());
        QCOMPARE(files.size(), 1);
        QVERIFY(files.first().startsWith(QStringLiteral("h.json.corrupt-")));
        QCOMPARE(dir.readFile(files.first()), damaged);
    }

    // Qt's reader drops U+FEFF; the writer must escape it.
    void byteOrderMarksInsideStringsSurvive()
    {
        TempDataDir dir;
        const QString path = dir.filePath(QStringLiteral("b.json"));
        const QString bom(QChar(0xFEFF));
        const QJsonObject record{{bom + QStringLiteral("a"), 2}, {QStringLiteral("a"), 1}, {QStringLiteral("t"), bom}};
        QVERIFY(StoreFile::writeJson(path, QJsonDocument(record)));
        QCOMPARE(StoreFile::readJson(path, StoreFile::JsonType::Object).object(), record);
    }
};

QTEST_GUILESS_MAIN(TestStoreFile)
#include "tst_storefile.moc"
