#include "DataManager.h"
#include "StoreFile.h"
#include "TempDataDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {
QStringList urlsOf(const QJsonArray &records)
{
    QStringList urls;
    for (const QJsonValue &r : records)
        urls << r[QLatin1String("url")].toString();
    return urls;
}

QJsonDocument parseFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll());
}

QByteArray historyOf(int count, int first = 0)
{
    QJsonArray a;
    for (int i = first; i < first + count; ++i)
        a.append(QJsonObject{{QStringLiteral("url"), QStringLiteral("https://site.test/%1").arg(i)},
                             {QStringLiteral("title"), QStringLiteral("Page %1").arg(i)},
                             {QStringLiteral("timestamp"), QStringLiteral("2025-03-01T14:05:09")}});
    return QJsonDocument(a).toJson();
}

int permissionBits(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 0777);
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Makes every write of this process fail part-way, as a full disk does.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        struct rlimit tiny = m_old;
        tiny.rlim_cur = bytes;
        m_previous = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &tiny);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_previous);
    }

private:
    struct rlimit m_old {};
    void (*m_previous)(int) = nullptr;
};

const QRegularExpression couldNotWrite(QStringLiteral("DataManager: could not write .*"));
}

class TestDataManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void firstStartWritesNothing()
    {
        TempDataDir dir;
        DataManager dm;
        QVERIFY(dm.getBookmarks().isEmpty());
        QVERIFY(dm.getHistory().isEmpty());
        QVERIFY(dm.getPasswords().isEmpty());
        QVERIFY(dm.getSession().isEmpty());
        QCOMPARE(dm.getSettings(), DataManager::defaultSettings());
        QCOMPARE(dm.getSettings().size(), 11);
        QCOMPARE(dm.getSettings().value(QStringLiteral("theme")).toString(), QStringLiteral("dark"));
        QVERIFY(!QFileInfo::exists(dir.dataFolder()));
        QCOMPARE(dm.getHistoryPath(), dir.filePath(QStringLiteral("history.json")));
        QCOMPARE(dm.getSettingsPath(), dir.filePath(QStringLiteral("settings.json")));
    }

    void everyCollectionSurvivesARestart()
    {
        TempDataDir dir;
        const QJsonArray session{QJsonObject{{QStringLiteral("url"), QStringLiteral("https://a.test/")},
                                             {QStringLiteral("title"), QStringLiteral("A")},
                                             {QStringLiteral("pinned"), true}}};
        const QJsonObject settings{{QStringLiteral("adBlocking"), false}, {QStringLiteral("theme"), QStringLiteral("light")}};
        {
            DataManager dm;
            dm.addBookmark(QStringLiteral("https://b.test/"), QStringLiteral("Bee"));
            dm.addHistory(QStringLiteral("https://h.test/"), QStringLiteral("Aitch"));
            dm.addPassword(QStringLiteral("https://p.test/"), QStringLiteral("ann"), QStringLiteral("s3cret"));
            dm.setSettings(settings);
            dm.setSession(session);
        }
        DataManager dm;
        QCOMPARE(urlsOf(dm.getBookmarks()), QStringList{QStringLiteral("https://b.test/")});
        QCOMPARE(dm.getBookmarks().at(0)[QLatin1String("title")].toString(), QStringLiteral("Bee"));
        QCOMPARE(urlsOf(dm.getHistory()), QStringList{QStringLiteral("https://h.test/")});
        QCOMPARE(dm.getHistory().at(0)[QLatin1String("title")].toString(), QStringLiteral("Aitch"));
        const QJsonObject login = dm.getPasswords().at(0).toObject();
        QCOMPARE(login.value(QStringLiteral("username")).toString(), QStringLiteral("ann"));
        QCOMPARE(DataManager::decryptPasswordStatic(login.value(QStringLiteral("password")).toString()), QStringLiteral("s3cret"));
        QVERIFY(!dir.readFile(QStringLiteral("passwords.json")).contains("s3cret"));
        QCOMPARE(dm.getSettings(), settings); // replaced, not merged with the defaults
        QCOMPARE(dm.getSession(), session);

        // Records carry exactly the documented keys and a local ISO time stamp.
        QCOMPARE(dm.getBookmarks().at(0).toObject().keys(), (QStringList{"added", "title", "url"}));
        QCOMPARE(dm.getHistory().at(0).toObject().keys(), (QStringList{"timestamp", "title", "url"}));
        QCOMPARE(login.keys(), (QStringList{"added", "password", "url", "username"}));
        const QDateTime stamp = QDateTime::fromString(dm.getHistory().at(0)[QLatin1String("timestamp")].toString(), Qt::ISODate);
        QVERIFY(stamp.isValid());
        QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
        // Indented as QJsonDocument writes it.
        QCOMPARE(dir.readFile(QStringLiteral("history.json")), QJsonDocument(dm.getHistory()).toJson(QJsonDocument::Indented));
    }

    void addingKeepsOneRecordPerAddressNewestFirst_data()
    {
        QTest::addColumn<bool>("history");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("expected");
        const QStringList distinct{"https://a/", "https://b/", "https://c/"};
        const QStringList again{"https://a/", "https://b/", "https://c/", "https://a/"};
        const QStringList slash{"https://a/", "https://a"};
        const QStringList cased{"https://a/x", "https://a/X", "https://a/x"};
        for (bool history : {false, true}) {
            const char *c = history ? "history" : "bookmarks";
            QTest::addRow("%s: distinct", c) << history << distinct << QStringList{"https://c/", "https://b/", "https://a/"};
            QTest::addRow("%s: again moves to front", c) << history << again << QStringList{"https://a/", "https://c/", "https://b/"};
            QTest::addRow("%s: trailing slash differs", c) << history << slash << QStringList{"https://a", "https://a/"};
            QTest::addRow("%s: case-sensitive", c) << history << cased << QStringList{"https://a/x", "https://a/X"};
        }
    }
    void addingKeepsOneRecordPerAddressNewestFirst()
    {
        QFETCH(bool, history);
        QFETCH(QStringList, added);
        QFETCH(QStringList, expected);
        TempDataDir dir;
        DataManager dm;
        for (int i = 0; i < added.size(); ++i) {
            if (history)
                dm.addHistory(added.at(i), QStringLiteral("title %1").arg(i));
            else
                dm.addBookmark(added.at(i), QStringLiteral("title %1").arg(i));
        }
        const QJsonArray records = history ? dm.getHistory() : dm.getBookmarks();
        QCOMPARE(urlsOf(records), expected);
        // The front record carries the title of the latest add.
        QCOMPARE(records.at(0)[QLatin1String("title")].toString(), QStringLiteral("title %1").arg(added.size() - 1));
        const DataManager reloaded;
        QCOMPARE(urlsOf(history ? reloaded.getHistory() : reloaded.getBookmarks()), expected);
    }

    void historyIsCappedOnAdd()
    {
        TempDataDir dir;
        dir.writeFile(QStringLiteral("history.json"), historyOf(1000));
        DataManager dm;
        dm.addHistory(QStringLiteral("https://new.test/"), QStringLiteral("New"));
        QCOMPARE(dm.getHistory().size(), 1000);
        QCOMPARE(urlsOf(dm.getHistory()).first(), QStringLiteral("https://new.test/"));
        QCOMPARE(urlsOf(dm.getHistory()).last(), QStringLiteral("https://site.test/998"));
        QCOMPARE(parseFile(dm.getHistoryPath()).array().size(), 1000);
    }

    void historyIsCappedOnLoadButFileKeptUntilNextChange()
    {
        TempDataDir dir;
        dir.writeFile(QStringLiteral("history.json"), historyOf(1500));
        DataManager dm;
        QCOMPARE(dm.getHistory().size(), 1000);
        QCOMPARE(urlsOf(dm.getHistory()).last(), QStringLiteral("https://site.test/999"));
        QCOMPARE(parseFile(dm.getHistoryPath()).array().size(), 1500);
        // Re-visiting an entry beyond the cap adds it fresh at the front.
        dm.addHistory(QStringLiteral("https://site.test/1200"), QStringLiteral("Back"));
        const QJsonArray onDisk = parseFile(dm.getHistoryPath()).array();
        QCOMPARE(onDisk.size(), 1000);
        QCOMPARE(urlsOf(onDisk).first(), QStringLiteral("https://site.test/1200"));
        QCOMPARE(urlsOf(onDisk).last(), QStringLiteral("https://site.test/998"));
    }

    void removingRecords()
    {
        TempDataDir dir;
        // A hand-edited history with a duplicate address: every copy goes.
        QJsonArray history = QJsonDocument::fromJson(historyOf(3)).array();
        history.append(history.at(1));
        dir.writeFile(QStringLiteral("history.json"), QJsonDocument(history).toJson());
        DataManager dm;
        dm.removeHistory(QStringLiteral("https://site.test/1"));
        QCOMPARE(urlsOf(dm.getHistory()), (QStringList{"https://site.test/0", "https://site.test/2"}));
        QCOMPARE(urlsOf(parseFile(dm.getHistoryPath()).array()), urlsOf(dm.getHistory()));

        dm.addBookmark(QStringLiteral("https://a/"), QString());
        dm.addBookmark(QStringLiteral("https://b/"), QString());
        dm.removeBookmark(QStringLiteral("https://a/"));
        QCOMPARE(urlsOf(dm.getBookmarks()), QStringList{QStringLiteral("https://b/")});
        // Removing an unknown address still rewrites the file, unchanged.
        QFile::remove(dm.getBookmarksPath());
        dm.removeBookmark(QStringLiteral("https://none/"));
        QCOMPARE(urlsOf(parseFile(dm.getBookmarksPath()).array()), QStringList{QStringLiteral("https://b/")});

        dm.clearHistory();
        QVERIFY(dm.getHistory().isEmpty());
        QCOMPARE(parseFile(dm.getHistoryPath()).array(), QJsonArray());
    }

    void passwordRecords()
    {
        TempDataDir dir;
        DataManager dm;
        auto logins = [&dm] {
            QStringList out;
            for (const QJsonValue &r : dm.getPasswords())
                out << r[QLatin1String("url")].toString() + QLatin1Char('|') + r[QLatin1String("username")].toString()
                        + QLatin1Char('|') + DataManager::decryptPasswordStatic(r[QLatin1String("password")].toString());
            return out;
        };
        dm.addPassword(QStringLiteral("https://a/"), QStringLiteral("ann"), QStringLiteral("1"));
        dm.addPassword(QStringLiteral("https://a/"), QStringLiteral("bob"), QStringLiteral("2"));
        dm.addPassword(QStringLiteral("https://b/"), QStringLiteral("ann"), QStringLiteral("3"));
        dm.addPassword(QStringLiteral("https://a/"), QStringLiteral("cy"), QStringLiteral("4"));
        // Same site and user: replaced and moved to the end (oldest first).
        dm.addPassword(QStringLiteral("https://a/"), QStringLiteral("ann"), QStringLiteral("5"));
        QCOMPARE(logins(), (QStringList{"https://a/|bob|2", "https://b/|ann|3", "https://a/|cy|4", "https://a/|ann|5"}));

        dm.removePassword(QStringLiteral("https://a/"), QStringLiteral("cy"));
        QCOMPARE(logins(), (QStringList{"https://a/|bob|2", "https://b/|ann|3", "https://a/|ann|5"}));
        QCOMPARE(DataManager().getPasswords(), dm.getPasswords());

        dm.removePassword(QStringLiteral("https://a/"));
        QCOMPARE(logins(), QStringList{"https://b/|ann|3"});
        QCOMPARE(DataManager().getPasswords(), dm.getPasswords());
    }

    void passwordsFileStaysPrivate_data()
    {
        QTest::addColumn<int>("umaskValue");
        QTest::newRow("umask 000") << 0;
        QTest::newRow("umask 022") << 022;
    }
    void passwordsFileStaysPrivate()
    {
        QFETCH(int, umaskValue);
        TempDataDir dir;
        const mode_t old = ::umask(mode_t(umaskValue));
        DataManager dm;
        dm.addPassword(QStringLiteral("https://a/"), QStringLiteral("ann"), QStringLiteral("pw"));
        const int created = permissionBits(dm.getPasswordsPath());
        QFile::setPermissions(dm.getPasswordsPath(), QFileDevice::Permissions(0x6644));
        dm.addPassword(QStringLiteral("https://b/"), QStringLiteral("bob"), QStringLiteral("pw"));
        const int afterAdd = permissionBits(dm.getPasswordsPath());
        dm.removePassword(QStringLiteral("https://a/"), QStringLiteral("ann"));
        const int afterRemove = permissionBits(dm.getPasswordsPath());
        dm.clearAll();
        const int afterClear = permissionBits(dm.getPasswordsPath());
        dm.addHistory(QStringLiteral("https://h/"), QString());
        ::umask(old);
        QCOMPARE(created, 0600);
        QCOMPARE(afterAdd, 0600);
        QCOMPARE(afterRemove, 0600);
        QCOMPARE(afterClear, 0600);
        QCOMPARE(permissionBits(dm.getHistoryPath()), 0666 & ~umaskValue);
    }

    void obfuscationRoundTrips_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::newRow("empty") << QString();
        QTest::newRow("ascii") << QStringLiteral("hunter2");
        QTest::newRow("longer than the key") << QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789");
        QTest::newRow("astral") << QStringLiteral("p\U0001F511w\U0001D11Ed");
        QTest::newRow("non-latin") << QStringLiteral("пароль密码");
        QTest::newRow("equal to key char") << QStringLiteral("Mi\u0000lt");
        QTest::newRow("whole key") << QStringLiteral("Mirelt0Quaspen26");
    }
    void obfuscationRoundTrips()
    {
        QFETCH(QString, plain);
        TempDataDir dir;
        DataManager dm;
        const QString stored = dm.encryptPassword(plain);
        QVERIFY(plain.isEmpty() || stored != plain);
        QCOMPARE(DataManager::decryptPasswordStatic(stored), plain);
        QCOMPARE(dm.decryptPassword(stored), plain);
        // Stored through the file too.
        dm.addPassword(QStringLiteral("https://a/"), QStringLiteral("u"), plain);
        const QString fromFile = DataManager().getPasswords().at(0)[QLatin1String("password")].toString();
        QCOMPARE(DataManager::decryptPasswordStatic(fromFile), plain);
    }

    void obfuscationKnownAnswers_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("stored");
        // 'a' ^ 'M' = 0x2C
        QTest::newRow("a") << QStringLiteral("a") << QString::fromLatin1(QByteArray("\x2C").toBase64());
        // 'M' ^ 'M', 'i' ^ 'i' -> two U+0000 kept
        QTest::newRow("key prefix") << QStringLiteral("Mi") << QStringLiteral("AAA=");
        // 15 key chars -> U+0000 each; 'q' ^ '6' = 'G'; index 16 wraps to 'M'
        QTest::newRow("wraps at 16") << QStringLiteral("Mirelt0Quaspen2qM")
                                     << QString::fromLatin1(QByteArray(15, '\0').append('G').append('\0').toBase64());
        // U+00E9 ^ 'M' = U+00A4 -> UTF-8 C2 A4
        QTest::newRow("two-byte UTF-8") << QStringLiteral("\u00E9") << QString::fromLatin1(QByteArray("\xC2\xA4").toBase64());
    }
    void obfuscationKnownAnswers()
    {
        QFETCH(QString, plain);
        QFETCH(QString, stored);
        QCOMPARE(DataManager::encryptPasswordStatic(plain), stored);
        QCOMPARE(DataManager::decryptPasswordStatic(stored), plain);
    }

    void lenientDecoding_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        const QString clean = DataManager::encryptPasswordStatic(QStringLiteral("secret"));
        QTest::newRow("blank and bang skipped") << clean.left(3) + QStringLiteral(" !") + clean.mid(3) << QStringLiteral("secret");
        QTest::newRow("line breaks skipped") << clean.left(4) + QStringLiteral("\n") + clean.mid(4) << QStringLiteral("secret");
        QTest::newRow("no padding") << QString(clean).remove(QLatin1Char('=')) << QStringLiteral("secret");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("only junk") << QStringLiteral("!!! ***") << QString();
    }
    void lenientDecoding()
    {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        QCOMPARE(DataManager::decryptPasswordStatic(stored), expected);
    }

    void handWrittenPasswordDecodesToSomething()
    {
        // Not produced by the obfuscation: no error, just unrelated text.
        const QString out = DataManager::decryptPasswordStatic(QStringLiteral("plain password!"));
        QVERIFY(out != QStringLiteral("plain password!"));
    }

    void settingsFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QJsonObject>("expected");
        QTest::addColumn<bool>("keptAside");
        QTest::newRow("empty object") << QByteArray("{}") << QJsonObject() << false;
        QTest::newRow("partial: no merge") << QByteArray("{\"theme\":\"light\"}")
                                           << QJsonObject{{QStringLiteral("theme"), QStringLiteral("light")}} << false;
        QTest::newRow("damaged") << QByteArray("{\"theme\":") << QJsonObject() << true;
        QTest::newRow("array") << QByteArray("[]") << QJsonObject() << true;
        QTest::newRow("empty file") << QByteArray() << DataManager::defaultSettings() << false;
    }
    void settingsFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QJsonObject, expected);
        QFETCH(bool, keptAside);
        TempDataDir dir;
        dir.writeFile(QStringLiteral("settings.json"), content);
        if (keptAside)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("unreadable data in .*settings\\.json")));
        DataManager dm;
        QCOMPARE(dm.getSettings(), expected);
        QCOMPARE(dir.readFile(QStringLiteral("settings.json")), content);
        QCOMPARE(QDir(dir.dataFolder()).entryList({QStringLiteral("settings.json.corrupt-*")}, QDir::Files).size(),
                 keptAside ? 1 : 0);
    }

    void setSettingsReplacesTheWholeObject()
    {
        TempDataDir dir;
        DataManager dm;
        QJsonObject s = DataManager::defaultSettings();
        s.remove(QStringLiteral("theme"));
        dm.setSettings(s);
        QVERIFY(!parseFile(dm.getSettingsPath()).object().contains(QStringLiteral("theme")));
        QCOMPARE(DataManager().getSettings(), s);
    }

    void damagedFileIsKeptAsideAndLoadsEmpty_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        for (const char *file : {"bookmarks.json", "history.json", "passwords.json", "session.json"}) {
            QTest::addRow("%s torn", file) << QString::fromLatin1(file) << QByteArray("[{\"url\":\"https://a/\",\"ti");
            QTest::addRow("%s object", file) << QString::fromLatin1(file) << QByteArray("{\"url\":\"https://a/\"}");
        }
    }
    void damagedFileIsKeptAsideAndLoadsEmpty()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        TempDataDir dir;
        dir.writeFile(file, content);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("unreadable data in .*") + QRegularExpression::escape(file)));
        DataManager dm;
        QVERIFY(dm.getBookmarks().isEmpty() && dm.getHistory().isEmpty() && dm.getPasswords().isEmpty() && dm.getSession().isEmpty());
        const QStringList backups = QDir(dir.dataFolder()).entryList({file + QStringLiteral(".corrupt-*")}, QDir::Files);
        QCOMPARE(backups.size(), 1);
        QCOMPARE(dir.readFile(backups.first()), content);

        // The next change replaces the damaged file with a sound one; the copy stays.
        dm.clearAll();
        QCOMPARE(parseFile(dir.filePath(file)).array(), QJsonArray());
        QCOMPARE(dir.readFile(backups.first()), content);
    }

    void copyOfDamagedPasswordsStaysPrivate()
    {
        TempDataDir dir;
        dir.writeFile(QStringLiteral("passwords.json"), "[{\"password\":\"");
        QFile::setPermissions(dir.filePath(QStringLiteral("passwords.json")), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("unreadable data in .*passwords\\.json")));
        DataManager dm;
        const QStringList backups = QDir(dir.dataFolder()).entryList({QStringLiteral("passwords.json.corrupt-*")}, QDir::Files);
        QCOMPARE(backups.size(), 1);
        QCOMPARE(permissionBits(dir.filePath(backups.first())), 0600);
    }

    void unreadableFileLoadsEmptyWithWarning()
    {
        TempDataDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("bookmarks.json"))));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("DataManager: cannot read .*bookmarks\\.json")));
        DataManager dm;
        QVERIFY(dm.getBookmarks().isEmpty());
    }

    // A target that can't be replaced (a folder in its place; root ignores
    // permission bits): nothing is reported, memory keeps the change.
    void blockedTargetKeepsChangeInMemory()
    {
        TempDataDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("history.json/inner"))));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("DataManager: cannot read .*history\\.json")));
        DataManager dm;
        QTest::ignoreMessage(QtWarningMsg, couldNotWrite);
        dm.addHistory(QStringLiteral("https://a/"), QStringLiteral("A"));
        QCOMPARE(urlsOf(dm.getHistory()), QStringList{QStringLiteral("https://a/")});
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("history.json/inner"))).isDir());
        QCOMPARE(filesIn(dir.dataFolder()), QStringList());
    }

    void failedWriteLeavesOldFileIntact_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("bookmarks") << QStringLiteral("bookmarks.json");
        QTest::newRow("history") << QStringLiteral("history.json");
        QTest::newRow("passwords") << QStringLiteral("passwords.json");
        QTest::newRow("settings") << QStringLiteral("settings.json");
        QTest::newRow("session") << QStringLiteral("session.json");
    }
    void failedWriteLeavesOldFileIntact()
    {
        QFETCH(QString, file);
        TempDataDir dir;
        {
            DataManager dm;
            dm.addBookmark(QStringLiteral("https://old/"), QStringLiteral("Old"));
            dm.addHistory(QStringLiteral("https://old/"), QStringLiteral("Old"));
            dm.addPassword(QStringLiteral("https://old/"), QStringLiteral("u"), QStringLiteral("p"));
            dm.setSettings(QJsonObject{{QStringLiteral("theme"), QStringLiteral("old")}});
            dm.setSession(QJsonArray{QJsonObject{{QStringLiteral("url"), QStringLiteral("https://old/")}}});
        }
        const QByteArray before = dir.readFile(file);
        const QString big(8192, QLatin1Char('x'));
        DataManager dm;
        QTest::ignoreMessage(QtWarningMsg, couldNotWrite);
        {
            FileSizeLimit limit(64);
            if (file == QLatin1String("bookmarks.json"))
                dm.addBookmark(QStringLiteral("https://new/"), big);
            else if (file == QLatin1String("history.json"))
                dm.addHistory(QStringLiteral("https://new/"), big);
            else if (file == QLatin1String("passwords.json"))
                dm.addPassword(QStringLiteral("https://new/"), big, big);
            else if (file == QLatin1String("settings.json"))
                dm.setSettings(QJsonObject{{QStringLiteral("theme"), big}});
            else
                dm.setSession(QJsonArray{QJsonObject{{QStringLiteral("url"), big}}});
        }
        QCOMPARE(dir.readFile(file), before);
        QCOMPARE(filesIn(dir.dataFolder()).filter(file + QLatin1Char('.')), QStringList());
        const QJsonDocument inMemory = file == QLatin1String("settings.json") ? QJsonDocument(dm.getSettings())
            : file == QLatin1String("bookmarks.json")                         ? QJsonDocument(dm.getBookmarks())
            : file == QLatin1String("history.json")                           ? QJsonDocument(dm.getHistory())
            : file == QLatin1String("passwords.json")                         ? QJsonDocument(dm.getPasswords())
                                                                              : QJsonDocument(dm.getSession());
        QVERIFY(inMemory.toJson().contains(big.toLatin1()));

        // The next successful save carries the change to disk.
        dm.clearHistory();
        dm.saveBookmarks();
        dm.savePasswords();
        dm.saveSettings();
        dm.saveSession();
        if (file != QLatin1String("history.json"))
            QVERIFY(dir.readFile(file).contains(big.toLatin1()));
    }

    void clearAllLeavesOtherFiles()
    {
        TempDataDir dir;
        dir.writeFile(QStringLiteral("search_engines.json"), "{\"default\":\"ddg\"}");
        dir.writeFile(QStringLiteral("downloads.json"), "[1]");
        DataManager dm;
        dm.setSettings(QJsonObject{{QStringLiteral("theme"), QStringLiteral("light")}});
        dm.addBookmark(QStringLiteral("https://a/"), QString());
        dm.addHistory(QStringLiteral("https://a/"), QString());
        dm.addPassword(QStringLiteral("https://a/"), QStringLiteral("u"), QStringLiteral("p"));
        dm.setSession(QJsonArray{QJsonObject()});
        const QByteArray settings = dir.readFile(QStringLiteral("settings.json"));
        dm.clearAll();
        for (const char *f : {"bookmarks.json", "history.json", "passwords.json", "session.json"}) {
            const QJsonDocument doc = parseFile(dir.filePath(QLatin1String(f)));
            QVERIFY2(doc.isArray() && doc.array().isEmpty(), f);
        }
        QCOMPARE(dir.readFile(QStringLiteral("settings.json")), settings);
        QCOMPARE(dir.readFile(QStringLiteral("search_engines.json")), QByteArray("{\"default\":\"ddg\"}"));
        QCOMPARE(dir.readFile(QStringLiteral("downloads.json")), QByteArray("[1]"));
        QCOMPARE(dm.getSettings().value(QStringLiteral("theme")).toString(), QStringLiteral("light"));
    }

    void sessionIsStoredAsGiven()
    {
        TempDataDir dir;
        DataManager dm;
        dm.setSession(QJsonArray());
        QCOMPARE(parseFile(dm.getSessionPath()).array(), QJsonArray());
        const QJsonArray odd{1, QStringLiteral("x"), QJsonObject{{QStringLiteral("url"), QStringLiteral("about:blank")}}};
        dm.setSession(odd);
        QCOMPARE(DataManager().getSession(), odd);
        dm.clearSession();
        QCOMPARE(DataManager().getSession(), QJsonArray());
    }

    void explicitConfigLocation()
    {
        TempDataDir dir;
        QTemporaryDir other;
        DataManager dm(other.path());
        dm.addBookmark(QStringLiteral("https://a/"), QString());
        QCOMPARE(dm.getBookmarksPath(), other.path() + QStringLiteral("/orvexbrowser/bookmarks.json"));
        QVERIFY(QFileInfo::exists(dm.getBookmarksPath()));
        QVERIFY(!QFileInfo::exists(dir.dataFolder()));
    }

    // Prints the cost of recording one visit with a full history; informative only.
    void addHistoryCostWithFullHistory()
    {
        TempDataDir dir;
        dir.writeFile(QStringLiteral("history.json"), historyOf(1000));
        DataManager dm;
        QList<qint64> samples;
        for (int i = 0; i < 101; ++i) {
            QElapsedTimer timer;
            timer.start();
            dm.addHistory(QStringLiteral("https://visit.test/%1").arg(i), QStringLiteral("A page title of usual length %1").arg(i));
            samples << timer.nsecsElapsed();
        }
        std::sort(samples.begin(), samples.end());
        qInfo("addHistory with 1000 entries: median %.2f ms, max %.2f ms over %d visits",
              samples.at(samples.size() / 2) / 1e6, samples.last() / 1e6, int(samples.size()));
        QCOMPARE(dm.getHistory().size(), 1000);
        QCOMPARE(parseFile(dm.getHistoryPath()).array(), dm.getHistory());
    }
};

QTEST_GUILESS_MAIN(TestDataManager)
#include "tst_datamanager.moc"
