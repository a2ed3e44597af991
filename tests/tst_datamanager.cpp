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

// 0600: no bits for group or others.
constexpr QFileDevice::Permissions privateBits = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
}

class TestDataManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // Adding an address again moves its record to the front.
    void collectionsSurviveARestart()
    {
        TempDataDir dir;
        const QJsonArray session{QJsonObject{{"url", "https://a.test/"}, {"pinned", true}}};
        const QJsonObject settings{{"adBlocking", false}};
        DataManager dm;
        for (const char *url : {"https://a/", "https://b/", "https://a/"}) {
            dm.addBookmark(url, "Bee");
            dm.addHistory(url, "Aitch");
        }
        dm.setSettings(settings);
        dm.setSession(session);
        const DataManager again;
        QCOMPARE(urlsOf(again.getBookmarks()) + urlsOf(again.getHistory()), (QStringList{"https://a/", "https://b/", "https://a/", "https://b/"}));
        QCOMPARE(again.getSettings(), settings); // replaced, not merged with the defaults
        QCOMPARE(again.getSession(), session);
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
        // Re-visiting an entry beyond the cap adds it fresh at the front; the oldest goes,
        // in memory and in the file (a new manager would cap it again on loading).
        dm.addHistory("https://site.test/1200", "Back");
        const QStringList live = urlsOf(dm.getHistory()), onDisk = urlsOf(QJsonDocument::fromJson(dir.readFile("history.json")).array());
        QCOMPARE(live.size(), 1000);
        QCOMPARE(onDisk, live);
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
        QVERIFY(QFile::setPermissions(dir.filePath("passwords.json"), privateBits));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable data in .*passwords\\.json"));
        DataManager dm;
        for (const char *password : {"s3cret-1", "s3cret-2"}) {
            dm.addPassword("https://a/", "ann", password);
            QCOMPARE(QFile::permissions(dm.getPasswordsPath()), privateBits);
            // A file made world-readable meanwhile is tightened on the next write.
            QVERIFY(QFile::setPermissions(dm.getPasswordsPath(), privateBits | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        }
        // Same site and user: replaced; stored obfuscated.
        QCOMPARE(DataManager().getPasswords().size(), 1);
        QCOMPARE(DataManager::decryptPasswordStatic(DataManager().getPasswords().at(0)[QLatin1String("password")].toString()), "s3cret-2");
        QVERIFY(!dir.readFile("passwords.json").contains("s3cret"));
        const QStringList copies = QDir(dir.dataFolder()).entryList({"passwords.json.corrupt-*"}, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(dir.readFile(copies.first()), torn);
        QCOMPARE(QFile::permissions(dir.filePath(copies.first())), privateBits);
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

    // Killed writes' temporaries are swept elsewhere; other files and links stay.
    void storeWriteKeepsLinksAndOtherFiles()
    {
        TempDataDir dir;
        const QString real = dir.path() + QStringLiteral("/dotfiles/settings.json"), link = dir.filePath("settings.json");
        dir.writeFile("settings.json.backup", "user's own");
        QVERIFY(StoreFile::write(real, "{}") && QFile::link(real, link));
        QVERIFY(StoreFile::write(link, "{\"a\":1}"));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QDir(dir.dataFolder()).entryList(QDir::Files | QDir::Hidden), (QStringList{"settings.json", "settings.json.backup"}));
        QCOMPARE(QDir(QFileInfo(real).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{"settings.json"});
        QCOMPARE(StoreFile::readJson(real, StoreFile::JsonType::Object).object().value("a").toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDataManager)
#include "tst_datamanager.moc"
