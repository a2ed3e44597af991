#include "DataManager.h"
#include "StoreFile.h"
#include "TempDataDir.h"

#include <QtTest>

#include <sys/stat.h>

namespace {
QStringList urlsOf(const QJsonArray &records)
{
    QStringList urls;
    for (const QJsonValue &r : records)
        urls << r[QLatin1String("url")].toString();
    return urls;
}

int permissionBits(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}
}

class TestDataManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // Adding an address again moves its record to the front.
    void everyCollectionSurvivesARestart()
    {
        TempDataDir dir;
        const QJsonArray session{QJsonObject{{"url", "https://a.test/"}, {"pinned", true}}};
        const QJsonObject settings{{"adBlocking", false}};
        {
            DataManager dm;
            for (const char *url : {"https://a/", "https://b/", "https://a/"}) {
                dm.addBookmark(url, "Bee");
                dm.addHistory(url, "Aitch");
            }
            dm.addPassword("https://p.test/", "ann", "s3cret");
            dm.setSettings(settings);
            dm.setSession(session);
        }
        DataManager dm;
        QCOMPARE(urlsOf(dm.getBookmarks()) + urlsOf(dm.getHistory()), (QStringList{"https://a/", "https://b/", "https://a/", "https://b/"}));
        QCOMPARE(dm.getBookmarks().at(0)[QLatin1String("title")].toString() + dm.getHistory().at(0)[QLatin1String("title")].toString(), "BeeAitch");
        QCOMPARE(DataManager::decryptPasswordStatic(dm.getPasswords().at(0)[QLatin1String("password")].toString()), QStringLiteral("s3cret"));
        QVERIFY(!dir.readFile("passwords.json").contains("s3cret"));
        QCOMPARE(dm.getSettings(), settings); // replaced, not merged with the defaults
        QCOMPARE(dm.getSession(), session);
    }

    void historyIsCappedOnLoadAndAdd()
    {
        TempDataDir dir;
        QJsonArray stored;
        for (int i = 0; i < 1500; ++i)
            stored.append(QJsonObject{{"url", QStringLiteral("https://site.test/%1").arg(i)}, {"title", "Page"}});
        dir.writeFile("history.json", QJsonDocument(stored).toJson());
        DataManager dm;
        QCOMPARE(dm.getHistory().size(), 1000);
        QCOMPARE(urlsOf(dm.getHistory()).last(), QStringLiteral("https://site.test/999"));
        // Re-visiting an entry beyond the cap adds it fresh at the front; the oldest goes.
        dm.addHistory("https://site.test/1200", "Back");
        const QStringList onDisk = urlsOf(DataManager().getHistory());
        QCOMPARE(onDisk.size(), 1000);
        QCOMPARE(onDisk.first() + onDisk.last(), QStringLiteral("https://site.test/1200https://site.test/998"));
    }

    // The file, and the copy kept of a damaged one, stay 0600 whatever the umask.
    void passwordFileIsPrivate()
    {
        TempDataDir dir;
        const mode_t oldMask = ::umask(0);
        const auto restoreMask = qScopeGuard([oldMask] { ::umask(oldMask); });
        const QByteArray torn("[{\"url\":\"https://a/\",\"pa");
        dir.writeFile("passwords.json", torn);
        QFile::setPermissions(dir.filePath("passwords.json"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable data in .*passwords\\.json"));
        DataManager dm;
        const QByteArray path = QFile::encodeName(dm.getPasswordsPath());
        for (const char *password : {"1", "2"}) {
            dm.addPassword("https://a/", "ann", password);
            QCOMPARE(permissionBits(dm.getPasswordsPath()), 0600);
            // A file made world-readable meanwhile is tightened on the next write.
            QCOMPARE(::chmod(path.constData(), 0644), 0);
        }
        // Same site and user: replaced; the damaged file's record is not read.
        QCOMPARE(DataManager().getPasswords().size(), 1);
        QCOMPARE(DataManager::decryptPasswordStatic(dm.getPasswords().at(0)[QLatin1String("password")].toString()), "2");
        const QStringList copies = QDir(dir.dataFolder()).entryList({"passwords.json.corrupt-*"}, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(dir.readFile(copies.first()), torn);
        QCOMPARE(permissionBits(dir.filePath(copies.first())), 0600);
    }

    void obfuscationKnownAnswersAndRoundTrips()
    {
        // Each key char gives U+0000; 'q' ^ '6' = 'G'; index 16 wraps to 'M'.
        QCOMPARE(DataManager::encryptPasswordStatic("Mirelt0Quaspen2qM"),
                 QString::fromLatin1(QByteArray(15, '\0').append('G').append('\0').toBase64()));
        // U+00E9 ^ 'M' = U+00A4 -> UTF-8 C2 A4
        QCOMPARE(DataManager::encryptPasswordStatic("\u00E9"), QString::fromLatin1(QByteArray("\xC2\xA4").toBase64()));
        const QString plain = QStringLiteral("p\U0001F511w\U0001D11Ed"), encoded = DataManager::encryptPasswordStatic(plain);
        QCOMPARE(DataManager::decryptPasswordStatic(encoded), plain);
        // Damaged text decodes leniently: blanks, line breaks and junk are skipped.
        QCOMPARE(DataManager::decryptPasswordStatic(encoded.left(2) + QStringLiteral(" !\n") + encoded.mid(2)), plain);
    }

    void storeWriteReplacesWholeFilesOnly()
    {
        TempDataDir dir;
        dir.writeFile("h.json.tmp-Ab12Cd", "torn");
        dir.writeFile("h.json.backup", "user's own");
        QVERIFY(StoreFile::write(dir.filePath("h.json"), "new"));
        QCOMPARE(dir.readFile("h.json"), QByteArray("new"));
        // A successful write sweeps temporaries of killed writes, nothing else.
        QCOMPARE(QDir(dir.dataFolder()).entryList(QDir::Files | QDir::Hidden), (QStringList{"h.json", "h.json.backup"}));
        // A symbolic link stays and its target is replaced.
        const QString real = dir.path() + QStringLiteral("/dotfiles/settings.json"), link = dir.filePath("settings.json");
        QVERIFY(StoreFile::write(real, "{}") && QFile::link(real, link));
        QVERIFY(StoreFile::write(link, "{\"a\":1}"));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QDir(QFileInfo(real).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{"settings.json"});
        QCOMPARE(StoreFile::readJson(real, StoreFile::JsonType::Object).object().value("a").toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDataManager)
#include "tst_datamanager.moc"
