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
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()) : QJsonDocument();
}

QByteArray historyOf(int count)
{
    QJsonArray a;
    for (int i = 0; i < count; ++i)
        a.append(QJsonObject{{QStringLiteral("url"), QStringLiteral("https://site.test/%1").arg(i)},
                             {QStringLiteral("title"), QStringLiteral("Page %1").arg(i)},
                             {QStringLiteral("timestamp"), QStringLiteral("2025-03-01T14:05:09")}});
    return QJsonDocument(a).toJson();
}

int permissionBits(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

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

QRegularExpression warning(const QString &pattern) { return QRegularExpression(pattern); }
const QString couldNotWrite = QStringLiteral("DataManager: could not write .*");
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
        QVERIFY(dm.getBookmarks().isEmpty() && dm.getHistory().isEmpty() && dm.getPasswords().isEmpty()
                && dm.getSession().isEmpty());
        QCOMPARE(dm.getSettings(), DataManager::defaultSettings());
        QVERIFY(!QFileInfo::exists(dir.dataFolder()));
        QCOMPARE(dm.getHistoryPath(), dir.filePath(QStringLiteral("history.json")));

        QTemporaryDir other;
        DataManager elsewhere(other.path());
        elsewhere.addBookmark(QStringLiteral("https://a/"), QString());
        QCOMPARE(elsewhere.getBookmarksPath(), other.path() + QStringLiteral("/orvexbrowser/bookmarks.json"));
        QVERIFY(QFileInfo::exists(elsewhere.getBookmarksPath()));
        QVERIFY(!QFileInfo::exists(dir.dataFolder()));
    }

    void everyCollectionSurvivesARestart()
    {
        TempDataDir dir;
        const QJsonArray session{QJsonObject{{QStringLiteral("url"), QStringLiteral("https://a.test/")},
                                             {QStringLiteral("pinned"), true}},
                                 1, QStringLiteral("stored as given")};
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
        QVERIFY(stamp.isValid() && qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
        QCOMPARE(dir.readFile(QStringLiteral("history.json")), QJsonDocument(dm.getHistory()).toJson(QJsonDocument::Indented));

        dm.clearSession();
        QCOMPARE(DataManager().getSession(), QJsonArray());
    }

    void addingKeepsOneRecordPerAddressNewestFirst_data()
    {
        QTest::addColumn<bool>("history");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("expected");
        for (bool history : {false, true}) {
            const char *c = history ? "history" : "bookmarks";
            QTest::addRow("%s: distinct", c) << history << QStringList{"https://a/", "https://b/", "https://c/"}
                                             << QStringList{"https://c/", "https://b/", "https://a/"};
            QTest::addRow("%s: again moves to front", c)
                << history << QStringList{"https://a/", "https://b/", "https://c/", "https://a/"}
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
            history ? dm.addHistory(added.at(i), QStringLiteral("title %1").arg(i))
                    : dm.addBookmark(added.at(i), QStringLiteral("title %1").arg(i));
        const QJsonArray records = history ? dm.getHistory() : dm.getBookmarks();
        QCOMPARE(urlsOf(records), expected);
        // The front record carries the title of the latest add.
        QCOMPARE(records.at(0)[QLatin1String("title")].toString(), QStringLiteral("title %1").arg(added.size() - 1));
        const DataManager reloaded;
        QCOMPARE(urlsOf(history ? reloaded.getHistory() : reloaded.getBookmarks()), expected);
    }

    void historyIsCapped()
    {
        TempDataDir dir;
        // On load the list is capped, but the file stays untouched until the next change.
        dir.writeFile(QStringLiteral("history.json"), historyOf(1500));
        DataManager dm;
        QCOMPARE(dm.getHistory().size(), 1000);
        QCOMPARE(urlsOf(dm.getHistory()).last(), QStringLiteral("https://site.test/999"));
        QCOMPARE(parseFile(dm.getHistoryPath()).array().size(), 1500);
        // Re-visiting an entry beyond the cap adds it fresh at the front; the oldest goes.
        dm.addHistory(QStringLiteral("https://site.test/1200"), QStringLiteral("Back"));
        const QJsonArray onDisk = parseFile(dm.getHistoryPath()).array();
        QCOMPARE(onDisk, dm.getHistory());
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
        // Removing an unknown address still rewrites the file, unchanged.
        QFile::remove(dm.getBookmarksPath());
        dm.removeBookmark(QStringLiteral("https://none/"));
        QCOMPARE(urlsOf(parseFile(dm.getBookmarksPath()).array()), QStringList{QStringLiteral("https://b/")});

        dm.clearHistory();
        QVERIFY(dm.getHistory().isEmpty());
        QCOMPARE(parseFile(dm.getHistoryPath()).array(), QJsonArray());
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
        for (const char *login : {"https://a/|ann|1", "https://a/|bob|2", "https://b/|ann|3", "https://a/|cy|4", "https://a/|ann|5"}) {
            const QStringList f = QString::fromLatin1(login).split(QLatin1Char('|'));
            dm.addPassword(f.at(0), f.at(1), f.at(2));
            QCOMPARE(permissionBits(dm.getPasswordsPath()), 0600);
            // A file made world-readable meanwhile is tightened on the next write.
            QCOMPARE(::chmod(QFile::encodeName(dm.getPasswordsPath()).constData(), 0644), 0);
        }
        // Same site and user: replaced and moved to the end (oldest first).
        QCOMPARE(logins(dm), (QStringList{"https://a/|bob|2", "https://b/|ann|3", "https://a/|cy|4", "https://a/|ann|5"}));
        dm.removePassword(QStringLiteral("https://a/"), QStringLiteral("cy"));
        QCOMPARE(permissionBits(dm.getPasswordsPath()), 0600);
        QCOMPARE(logins(DataManager()), (QStringList{"https://a/|bob|2", "https://b/|ann|3", "https://a/|ann|5"}));
        dm.removePassword(QStringLiteral("https://a/"));
        QCOMPARE(logins(DataManager()), QStringList{"https://b/|ann|3"});
        QCOMPARE(::chmod(QFile::encodeName(dm.getPasswordsPath()).constData(), 0644), 0);
        dm.clearAll();
        QCOMPARE(permissionBits(dm.getPasswordsPath()), 0600);
        dm.addHistory(QStringLiteral("https://h/"), QString());
        QCOMPARE(permissionBits(dm.getHistoryPath()), 0666); // not a secret: the umask rules
    }

    // An empty `stored` checks the round trip only.
    void obfuscation_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("stored");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("longer than the key") << QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789") << QString();
        QTest::newRow("astral") << QStringLiteral("p\U0001F511w\U0001D11Ed") << QString();
        QTest::newRow("non-latin") << QStringLiteral("пароль密码") << QString();
        QTest::newRow("whole key") << QStringLiteral("Mirelt0Quaspen26") << QString();
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
    void obfuscation()
    {
        QFETCH(QString, plain);
        QFETCH(QString, stored);
        TempDataDir dir;
        DataManager dm;
        const QString encoded = dm.encryptPassword(plain);
        if (!stored.isEmpty())
            QCOMPARE(encoded, stored);
        QVERIFY(plain.isEmpty() || encoded != plain);
        QCOMPARE(dm.decryptPassword(encoded), plain);
        dm.addPassword(QStringLiteral("https://a/"), QStringLiteral("u"), plain);
        const QString fromFile = DataManager().getPasswords().at(0)[QLatin1String("password")].toString();
        QCOMPARE(DataManager::decryptPasswordStatic(fromFile), plain);
    }

    void lenientDecoding_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        const QString clean = DataManager::encryptPasswordStatic(QStringLiteral("secret"));
        QTest::newRow("blank and bang skipped") << clean.left(3) + QStringLiteral(" !") + clean.mid(3) << QStringLiteral("secret");
        QTest::newRow("line breaks skipped") << clean.left(4) + QStringLiteral("\n") + clean.mid(4) << QStringLiteral("secret");
        QTest::newRow("no padding") << QString(clean).remove(QLatin1Char('=')) << QStringLiteral("secret");
        QTest::newRow("only junk") << QStringLiteral("!!! ***") << QString();
    }
    void lenientDecoding()
    {
        QFETCH(QString, stored);
        QTEST(DataManager::decryptPasswordStatic(stored), "expected");
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
        QFETCH(bool, keptAside);
        TempDataDir dir;
        dir.writeFile(QStringLiteral("settings.json"), content);
        if (keptAside)
            QTest::ignoreMessage(QtWarningMsg, warning(QStringLiteral("unreadable data in .*settings\\.json")));
        DataManager dm;
        QTEST(dm.getSettings(), "expected");
        QCOMPARE(dir.readFile(QStringLiteral("settings.json")), content);
        QCOMPARE(filesIn(dir.dataFolder(), QStringLiteral("settings.json.corrupt-*")).size(), keptAside ? 1 : 0);
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
        const bool secret = file == QLatin1String("passwords.json");
        if (secret)
            QFile::setPermissions(dir.filePath(file), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QTest::ignoreMessage(QtWarningMsg, warning(QStringLiteral("unreadable data in .*") + QRegularExpression::escape(file)));
        DataManager dm;
        QVERIFY(dm.getBookmarks().isEmpty() && dm.getHistory().isEmpty() && dm.getPasswords().isEmpty() && dm.getSession().isEmpty());
        const QStringList backups = filesIn(dir.dataFolder(), file + QStringLiteral(".corrupt-*"));
        QCOMPARE(backups.size(), 1);
        QCOMPARE(dir.readFile(backups.first()), content);
        if (secret)
            QCOMPARE(permissionBits(dir.filePath(backups.first())), 0600);

        // The next change replaces the damaged file with a sound one; the copy stays.
        dm.clearAll();
        QCOMPARE(parseFile(dir.filePath(file)).array(), QJsonArray());
        QCOMPARE(dir.readFile(backups.first()), content);
    }

    // A target that can't be read nor replaced (a folder in its place; root
    // ignores permission bits): loads empty, memory keeps the change.
    void blockedTargetKeepsChangeInMemory()
    {
        TempDataDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("history.json/inner"))));
        QTest::ignoreMessage(QtWarningMsg, warning(QStringLiteral("DataManager: cannot read .*history\\.json")));
        DataManager dm;
        QVERIFY(dm.getHistory().isEmpty());
        QTest::ignoreMessage(QtWarningMsg, warning(couldNotWrite));
        dm.addHistory(QStringLiteral("https://a/"), QStringLiteral("A"));
        QCOMPARE(urlsOf(dm.getHistory()), QStringList{QStringLiteral("https://a/")});
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("history.json/inner"))).isDir());
        QCOMPARE(filesIn(dir.dataFolder()), QStringList());
    }

    void failedWritesLeaveOldFilesIntact()
    {
        TempDataDir dir;
        auto changeAll = [](DataManager &d, const QString &text) {
            d.addBookmark(QStringLiteral("https://x/"), text);
            d.addHistory(QStringLiteral("https://x/"), text);
            d.addPassword(QStringLiteral("https://x/"), text, text);
            d.setSettings(QJsonObject{{QStringLiteral("theme"), text}});
            d.setSession(QJsonArray{QJsonObject{{QStringLiteral("url"), text}}});
        };
        {
            DataManager dm;
            changeAll(dm, QStringLiteral("old"));
        }
        const QStringList files = filesIn(dir.dataFolder());
        QCOMPARE(files.size(), 5);
        QHash<QString, QByteArray> before;
        for (const QString &f : files)
            before.insert(f, dir.readFile(f));
        const QString big(8192, QLatin1Char('x'));
        DataManager dm;
        for (int i = 0; i < files.size(); ++i)
            QTest::ignoreMessage(QtWarningMsg, warning(couldNotWrite));
        {
            FileSizeLimit limit(64);
            changeAll(dm, big);
        }
        for (const QString &f : files)
            QCOMPARE(dir.readFile(f), before.value(f));
        QCOMPARE(filesIn(dir.dataFolder()), files); // no temporaries left

        // Memory kept the changes: the next successful save carries them to disk.
        dm.saveHistory();
        dm.saveBookmarks();
        dm.savePasswords();
        dm.saveSettings();
        dm.saveSession();
        for (const QString &f : files)
            QVERIFY2(dir.readFile(f).contains(big.toLatin1()), qPrintable(f));
    }

    void clearAllLeavesOtherFiles()
    {
        TempDataDir dir;
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
        QCOMPARE(dir.readFile(QStringLiteral("downloads.json")), QByteArray("[1]"));
        QCOMPARE(dm.getSettings().value(QStringLiteral("theme")).toString(), QStringLiteral("light"));
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
        QCOMPARE(parseFile(dm.getHistoryPath()).array(), dm.getHistory());
    }
};

QTEST_GUILESS_MAIN(TestDataManager)
#include "tst_datamanager.moc"
