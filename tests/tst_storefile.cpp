#include "StoreFile.h"
#include "TempDataDir.h"

#include <QtTest>

namespace {
QStringList filesIn(const QString &folder, const QString &pattern = QStringLiteral("*"))
{
    return QDir(folder).entryList({pattern}, QDir::Files | QDir::Hidden, QDir::Name);
}

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
