#include "StoreFile.h"
#include "TempDataDir.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

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

    void writeReplacesWholeFilesOnly()
    {
        TempDataDir dir;
        dir.writeFile("h.json.tmp-Ab12Cd", "torn");
        dir.writeFile("h.json.backup", "user's own");
        const QString path = dir.filePath("h.json");
        QVERIFY(StoreFile::write(path, "first"));
        QVERIFY(StoreFile::write(path, "second"));
        QCOMPARE(dir.readFile("h.json"), QByteArray("second"));
        // The next successful write sweeps temporaries of killed writes, nothing else.
        QCOMPARE(filesIn(dir.dataFolder()), (QStringList{"h.json", "h.json.backup"}));
        {
            FileSizeLimit limit(16);
            QVERIFY(!StoreFile::write(path, QByteArray(4096, 'x')));
        }
        QCOMPARE(dir.readFile("h.json"), QByteArray("second"));
        QCOMPARE(filesIn(dir.dataFolder()), (QStringList{"h.json", "h.json.backup"}));

        // A symbolic link stays and its target is replaced.
        const QString real = dir.path() + QStringLiteral("/dotfiles/a/settings.json");
        QVERIFY(StoreFile::write(real, "{}"));
        const QString link = dir.filePath("settings.json");
        QVERIFY(QFile::link(real, link));
        QVERIFY(StoreFile::write(link, "{\"a\":1}"));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(filesIn(QFileInfo(real).absolutePath()), QStringList{"settings.json"});
        QCOMPARE(StoreFile::readJson(real, StoreFile::JsonType::Object).object().value("a").toInt(), 1);
    }

    void damagedFileIsCopiedOncePerDamage()
    {
        TempDataDir dir;
        const QString path = dir.filePath("settings.json");
        const QString copies = QStringLiteral("settings.json.corrupt-*");
        dir.writeFile("settings.json", "{\"theme\":");
        QTest::ignoreMessage(QtWarningMsg, unreadable("kept a copy as"));
        StoreFile::readJson(path, StoreFile::JsonType::Object);
        QTest::ignoreMessage(QtWarningMsg, unreadable("a copy is kept as"));
        StoreFile::readJson(path, StoreFile::JsonType::Object);
        QCOMPARE(filesIn(dir.dataFolder(), copies).size(), 1);
        dir.writeFile("settings.json", "{\"theme\":1,");
        QTest::ignoreMessage(QtWarningMsg, unreadable("kept a copy as"));
        StoreFile::readJson(path, StoreFile::JsonType::Object);
        QCOMPARE(filesIn(dir.dataFolder(), copies).size(), 2);
    }

    void damagedFileIsMovedWhenNoCopyFits()
    {
        TempDataDir dir;
        const QByteArray damaged = "[" + QByteArray(4096, '1');
        dir.writeFile("h.json", damaged);
        QTest::ignoreMessage(QtWarningMsg, unreadable("moved it to"));
        {
            FileSizeLimit limit(16);
            StoreFile::readJson(dir.filePath("h.json"), StoreFile::JsonType::Array);
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
        const QString path = dir.filePath("b.json");
        const QString bom(QChar(0xFEFF));
        const QJsonObject record{{bom + QStringLiteral("a"), 2}, {"a", 1}, {"t", bom}};
        QVERIFY(StoreFile::writeJson(path, QJsonDocument(record)));
        QCOMPARE(StoreFile::readJson(path, StoreFile::JsonType::Object).object(), record);
    }
};

QTEST_GUILESS_MAIN(TestStoreFile)
#include "tst_storefile.moc"
