#include "DataManager.h"
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

QJsonArray arrayIn(const TempDataDir &dir, const QString &file)
{
    return QJsonDocument::fromJson(dir.readFile(file)).array();
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

    void everyCollectionSurvivesARestart()
    {
        TempDataDir dir;
        const QJsonArray session{QJsonObject{{"url", "https://a.test/"}, {"pinned", true}}, 1, "stored as given"};
        const QJsonObject settings{{"adBlocking", false}, {"theme", "light"}};
        {
            DataManager dm;
            // A first start shows the defaults and writes nothing.
            QCOMPARE(dm.getSettings(), DataManager::defaultSettings());
            QVERIFY(!QFileInfo::exists(dir.dataFolder()));
            dm.addBookmark("https://b.test/", "Bee");
            dm.addHistory("https://h.test/", "Aitch");
            dm.addPassword("https://p.test/", "ann", "s3cret");
            dm.setSettings(settings);
            dm.setSession(session);
        }
        DataManager dm;
        QCOMPARE(dm.getBookmarks().at(0).toObject().keys(), (QStringList{"added", "title", "url"}));
        QCOMPARE(dm.getBookmarks().at(0)[QLatin1String("title")].toString(), QStringLiteral("Bee"));
        QCOMPARE(dm.getHistory().at(0).toObject().keys(), (QStringList{"timestamp", "title", "url"}));
        QCOMPARE(dm.getHistory().at(0)[QLatin1String("title")].toString(), QStringLiteral("Aitch"));
        const QDateTime stamp = QDateTime::fromString(dm.getHistory().at(0)[QLatin1String("timestamp")].toString(), Qt::ISODate);
        QVERIFY(stamp.isValid() && qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
        const QJsonObject login = dm.getPasswords().at(0).toObject();
        QCOMPARE(login.keys(), (QStringList{"added", "password", "url", "username"}));
        QCOMPARE(login.value("username").toString(), QStringLiteral("ann"));
        QCOMPARE(DataManager::decryptPasswordStatic(login.value("password").toString()), QStringLiteral("s3cret"));
        QVERIFY(!dir.readFile("passwords.json").contains("s3cret"));
        QCOMPARE(dm.getSettings(), settings); // replaced, not merged with the defaults
        QCOMPARE(dm.getSession(), session);
    }

    void addingKeepsOneRecordPerAddressNewestFirst_data()
    {
        QTest::addColumn<bool>("history");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("expected");
        for (bool history : {false, true}) {
            const char *c = history ? "history" : "bookmarks";
            QTest::addRow("%s: again moves to front", c) << history << QStringList{"https://a/", "https://b/", "https://c/", "https://a/"}
                                                         << QStringList{"https://a/", "https://c/", "https://b/"};
            QTest::addRow("%s: trailing slash differs", c) << history << QStringList{"https://a/", "https://a"}
                                                           << QStringList{"https://a", "https://a/"};
            QTest::addRow("%s: case-sensitive", c) << history << QStringList{"https://a/x", "https://a/X", "https://a/x"}
                                                   << QStringList{"https://a/x", "https://a/X"};
        }
    }
    void addingKeepsOneRecordPerAddressNewestFirst()
    {
        QFETCH(bool, history);
        QFETCH(QStringList, added);
        QFETCH(QStringList, expected);
        TempDataDir dir;
        DataManager dm;
        for (int i = 0; i < added.size(); ++i)
            history ? dm.addHistory(added.at(i), QString::number(i)) : dm.addBookmark(added.at(i), QString::number(i));
        const QJsonArray records = history ? dm.getHistory() : dm.getBookmarks();
        QCOMPARE(urlsOf(records), expected);
        // The front record carries the title of the latest add.
        QCOMPARE(records.at(0)[QLatin1String("title")].toString(), QString::number(added.size() - 1));
        const QString file = history ? "history.json" : "bookmarks.json";
        QCOMPARE(urlsOf(arrayIn(dir, file)), expected);
        history ? dm.removeHistory(expected.first()) : dm.removeBookmark(expected.first());
        QCOMPARE(urlsOf(arrayIn(dir, file)), expected.mid(1));
    }

    void historyIsCappedOnLoadAndAdd()
    {
        TempDataDir dir;
        QJsonArray stored;
        for (int i = 0; i < 1500; ++i)
            stored.append(QJsonObject{{"url", QStringLiteral("https://site.test/%1").arg(i)}, {"title", "Page"}});
        stored.insert(5, stored.at(1)); // a hand-edited duplicate
        dir.writeFile("history.json", QJsonDocument(stored).toJson());
        // On load the list is capped, but the file stays untouched until the next change.
        DataManager dm;
        QCOMPARE(dm.getHistory().size(), 1000);
        QCOMPARE(urlsOf(dm.getHistory()).last(), QStringLiteral("https://site.test/998"));
        QCOMPARE(arrayIn(dir, "history.json").size(), 1501);
        // Re-visiting an entry beyond the cap adds it fresh at the front; the oldest goes.
        dm.addHistory("https://site.test/1200", "Back");
        QCOMPARE(arrayIn(dir, "history.json"), dm.getHistory());
        QCOMPARE(dm.getHistory().size(), 1000);
        QCOMPARE(urlsOf(dm.getHistory()).first(), QStringLiteral("https://site.test/1200"));
        QCOMPARE(urlsOf(dm.getHistory()).last(), QStringLiteral("https://site.test/997"));
        // Removing an address removes every copy of it.
        dm.removeHistory("https://site.test/1");
        dm.removeHistory(QStringList{"https://site.test/0", "https://site.test/2", "https://none/"});
        const QStringList onDisk = urlsOf(arrayIn(dir, "history.json"));
        QCOMPARE(onDisk.size(), 996);
        QCOMPARE(onDisk.mid(0, 3), (QStringList{"https://site.test/1200", "https://site.test/3", "https://site.test/4"}));
    }

    void passwordRecordsStayPrivate()
    {
        TempDataDir dir;
        const mode_t oldMask = ::umask(0);
        const auto restoreMask = qScopeGuard([oldMask] { ::umask(oldMask); });
        DataManager dm;
        auto logins = [](const DataManager &d) {
            QStringList out;
            for (const QJsonValue &r : d.getPasswords())
                out << r[QLatin1String("url")].toString() + QLatin1Char('|') + r[QLatin1String("username")].toString()
                        + QLatin1Char('|') + DataManager::decryptPasswordStatic(r[QLatin1String("password")].toString());
            return out;
        };
        const QByteArray path = QFile::encodeName(dm.getPasswordsPath());
        for (const char *login : {"https://a/|ann|1", "https://a/|bob|2", "https://b/|ann|3", "https://a/|cy|4", "https://a/|ann|5"}) {
            const QStringList f = QString::fromLatin1(login).split(QLatin1Char('|'));
            dm.addPassword(f.at(0), f.at(1), f.at(2));
            QCOMPARE(permissionBits(dm.getPasswordsPath()), 0600);
            // A file made world-readable meanwhile is tightened on the next write.
            QCOMPARE(::chmod(path.constData(), 0644), 0);
        }
        // Same site and user: replaced and moved to the end (oldest first).
        QCOMPARE(logins(dm), (QStringList{"https://a/|bob|2", "https://b/|ann|3", "https://a/|cy|4", "https://a/|ann|5"}));
        dm.removePassword("https://a/", "cy");
        QCOMPARE(permissionBits(dm.getPasswordsPath()), 0600);
        QCOMPARE(logins(DataManager()), (QStringList{"https://a/|bob|2", "https://b/|ann|3", "https://a/|ann|5"}));
        dm.removePassword("https://a/");
        QCOMPARE(logins(DataManager()), QStringList{"https://b/|ann|3"});
        QCOMPARE(::chmod(path.constData(), 0644), 0);
        dm.clearAll();
        QCOMPARE(permissionBits(dm.getPasswordsPath()), 0600);
    }

    void obfuscation_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("stored");  // null: a round trip only
        QTest::addColumn<bool>("canonical"); // stored is what encoding plain gives
        QTest::newRow("empty") << QString() << QString() << false;
        QTest::newRow("longer than the key") << QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789") << QString() << false;
        QTest::newRow("astral") << QStringLiteral("p\U0001F511w\U0001D11Ed") << QString() << false;
        // 'a' ^ 'M' = 0x2C
        QTest::newRow("a") << QStringLiteral("a") << QString::fromLatin1(QByteArray("\x2C").toBase64()) << true;
        // 'M' ^ 'M', 'i' ^ 'i' -> two U+0000 kept
        QTest::newRow("key prefix") << QStringLiteral("Mi") << QStringLiteral("AAA=") << true;
        // 15 key chars -> U+0000 each; 'q' ^ '6' = 'G'; index 16 wraps to 'M'
        QTest::newRow("wraps at 16") << QStringLiteral("Mirelt0Quaspen2qM")
                                     << QString::fromLatin1(QByteArray(15, '\0').append('G').append('\0').toBase64()) << true;
        // U+00E9 ^ 'M' = U+00A4 -> UTF-8 C2 A4
        QTest::newRow("two-byte UTF-8") << QStringLiteral("\u00E9") << QString::fromLatin1(QByteArray("\xC2\xA4").toBase64()) << true;
        // Damaged text decodes leniently.
        const QString clean = DataManager::encryptPasswordStatic(QStringLiteral("secret"));
        QTest::newRow("blank and bang skipped") << QStringLiteral("secret") << clean.left(3) + QStringLiteral(" !") + clean.mid(3) << false;
        QTest::newRow("line break skipped") << QStringLiteral("secret") << clean.left(4) + QStringLiteral("\n") + clean.mid(4) << false;
        QTest::newRow("no padding") << QStringLiteral("secret") << QString(clean).remove(QLatin1Char('=')) << false;
        QTest::newRow("only junk") << QString() << QStringLiteral("!!! ***") << false;
    }
    void obfuscation()
    {
        QFETCH(QString, plain);
        QFETCH(QString, stored);
        QFETCH(bool, canonical);
        const QString encoded = DataManager::encryptPasswordStatic(plain);
        if (canonical)
            QCOMPARE(encoded, stored);
        QCOMPARE(DataManager::decryptPasswordStatic(stored.isNull() ? encoded : stored), plain);
    }

    void storedFileIsReadOrKeptAside_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("keptAside");
        QTest::addColumn<QJsonObject>("settings"); // as loaded
        const QJsonObject defaults = DataManager::defaultSettings();
        const QByteArray torn("[{\"url\":\"https://a/\",\"ti"), object("{\"url\":\"https://a/\"}");
        QTest::newRow("bookmarks torn") << "bookmarks.json" << torn << true << defaults;
        QTest::newRow("history object") << "history.json" << object << true << defaults;
        QTest::newRow("passwords torn") << "passwords.json" << torn << true << defaults;
        QTest::newRow("session object") << "session.json" << object << true << defaults;
        QTest::newRow("settings array") << "settings.json" << QByteArray("[]") << true << QJsonObject();
        QTest::newRow("settings blank file") << "settings.json" << QByteArray(" \n") << false << defaults;
    }
    void storedFileIsReadOrKeptAside()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(bool, keptAside);
        TempDataDir dir;
        dir.writeFile(file, content);
        dir.writeFile("downloads.json", "[1]");
        const bool secret = file == QLatin1String("passwords.json");
        if (secret)
            QFile::setPermissions(dir.filePath(file), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (keptAside)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unreadable data in .*" + QRegularExpression::escape(file)));
        DataManager dm;
        QVERIFY(dm.getBookmarks().isEmpty() && dm.getHistory().isEmpty() && dm.getPasswords().isEmpty() && dm.getSession().isEmpty());
        QTEST(dm.getSettings(), "settings");
        const QStringList copies = QDir(dir.dataFolder()).entryList({file + ".corrupt-*"}, QDir::Files);
        QCOMPARE(copies.size(), int(keptAside));
        if (keptAside && secret)
            QCOMPARE(permissionBits(dir.filePath(copies.first())), 0600);

        // Clearing rewrites the four collections; settings, downloads and the copy stay as they were.
        dm.clearAll();
        for (const char *f : {"bookmarks.json", "history.json", "passwords.json", "session.json"})
            QVERIFY2(QJsonDocument::fromJson(dir.readFile(f)) == QJsonDocument(QJsonArray()), f);
        QCOMPARE(dir.readFile("settings.json"), file == QLatin1String("settings.json") ? content : QByteArray());
        QCOMPARE(dir.readFile("downloads.json"), QByteArray("[1]"));
        if (keptAside)
            QCOMPARE(dir.readFile(copies.first()), content);
    }

    // A target that can't be read nor replaced (a folder in its place; root
    // ignores permission bits): loads empty, nothing reported, memory keeps the change.
    void blockedTargetKeepsChangeInMemory()
    {
        TempDataDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("history.json/inner")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("DataManager: cannot read .*history\\.json"));
        DataManager dm;
        QVERIFY(dm.getHistory().isEmpty());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("DataManager: could not write .*history\\.json"));
        dm.addHistory("https://a/", "A");
        QCOMPARE(urlsOf(dm.getHistory()), QStringList{"https://a/"});
        QVERIFY(QFileInfo(dir.filePath("history.json/inner")).isDir());
        QCOMPARE(QDir(dir.dataFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestDataManager)
#include "tst_datamanager.moc"
