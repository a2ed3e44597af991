#include "DataManager.h"
#include "StoreFile.h"
#include "TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

QJsonArray arrayIn(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).array() : QJsonArray();
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
}

class TestDataManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void everyCollectionSurvivesARestart()
    {
        TempDataDir dir;
        const QJsonArray session{QJsonObject{{QStringLiteral("url"), QStringLiteral("https://a.test/")}}};
        const QJsonObject settings{{QStringLiteral("theme"), QStringLiteral("light")}};
        {
            DataManager dm;
            QVERIFY(!QFileInfo::exists(dir.dataFolder())); // first start writes nothing
            dm.addBookmark(QStringLiteral("https://b.test/"), QStringLiteral("Bee"));
            dm.addHistory(QStringLiteral("https://h.test/"), QStringLiteral("Aitch"));
            dm.addPassword(QStringLiteral("https://p.test/"), QStringLiteral("ann"), QStringLiteral("s3cret"));
            dm.setSettings(settings);
            dm.setSession(session);
        }
        DataManager dm;
        QCOMPARE(urlsOf(dm.getBookmarks()), QStringList{QStringLiteral("https://b.test/")});
        QCOMPARE(urlsOf(dm.getHistory()), QStringList{QStringLiteral("https://h.test/")});
        const QJsonObject login = dm.getPasswords().at(0).toObject();
        QCOMPARE(DataManager::decryptPasswordStatic(login.value(QStringLiteral("password")).toString()), QStringLiteral("s3cret"));
        QVERIFY(!dir.readFile(QStringLiteral("passwords.json")).contains("s3cret"));
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
            QTest::addRow("%s: again moves to front", c)
                << history << QStringList{"https://a/", "https://b/", "https://c/", "https://a/"}
                << QStringList{"https://a/", "https://c/", "https://b/"};
            QTest::addRow("%s: exact match only", c) << history << QStringList{"https://a/x", "https://a/X", "https://a/x/"}
                                                     << QStringList{"https://a/x/", "https://a/X", "https://a/x"};
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
        QCOMPARE(records.at(0)[QLatin1String("title")].toString(), QStringLiteral("title %1").arg(added.size() - 1));
        const DataManager reloaded;
        QCOMPARE(urlsOf(history ? reloaded.getHistory() : reloaded.getBookmarks()), expected);
    }

    void historyIsCappedAndRemovalTakesEveryCopy()
    {
        TempDataDir dir;
        QJsonArray history = QJsonDocument::fromJson(historyOf(1500)).array();
        history.insert(1, history.at(0));
        dir.writeFile(QStringLiteral("history.json"), QJsonDocument(history).toJson());
        DataManager dm;
        QCOMPARE(dm.getHistory().size(), 1000);
        dm.addHistory(QStringLiteral("https://site.test/1200"), QStringLiteral("Back"));
        dm.removeHistory(QStringLiteral("https://site.test/0"));
        const QJsonArray onDisk = arrayIn(dm.getHistoryPath());
        QCOMPARE(onDisk, dm.getHistory());
        QCOMPARE(onDisk.size(), 998);
        QCOMPARE(urlsOf(onDisk).first(), QStringLiteral("https://site.test/1200"));
        QCOMPARE(urlsOf(onDisk).at(1), QStringLiteral("https://site.test/1"));
        QCOMPARE(urlsOf(onDisk).last(), QStringLiteral("https://site.test/997"));
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
        for (const char *login : {"https://a/|ann|1", "https://a/|bob|2", "https://b/|ann|3", "https://a/|ann|5"}) {
            const QStringList f = QString::fromLatin1(login).split(QLatin1Char('|'));
            dm.addPassword(f.at(0), f.at(1), f.at(2));
            QCOMPARE(permissionBits(dm.getPasswordsPath()), 0600);
            // A file made world-readable meanwhile is tightened on the next write.
            QCOMPARE(::chmod(QFile::encodeName(dm.getPasswordsPath()).constData(), 0644), 0);
        }
        // Same site and user: replaced and moved to the end.
        QCOMPARE(logins(DataManager()), (QStringList{"https://a/|bob|2", "https://b/|ann|3", "https://a/|ann|5"}));
        dm.removePassword(QStringLiteral("https://a/"));
        QCOMPARE(permissionBits(dm.getPasswordsPath()), 0600);
        QCOMPARE(logins(DataManager()), QStringList{"https://b/|ann|3"});
        dm.addHistory(QStringLiteral("https://h/"), QString());
        QCOMPARE(permissionBits(dm.getHistoryPath()), 0666); // not a secret: the umask rules
    }

    // An empty `stored` checks the round trip only.
    void obfuscation_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("stored");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("astral") << QStringLiteral("p\U0001F511w\U0001D11Ed") << QString();
        QTest::newRow("non-latin") << QStringLiteral("пароль密码") << QString();
        QTest::newRow("a") << QStringLiteral("a") << QString::fromLatin1(QByteArray("\x2C").toBase64());
        QTest::newRow("key prefix keeps U+0000") << QStringLiteral("Mi") << QStringLiteral("AAA=");
        QTest::newRow("wraps at 16") << QStringLiteral("Mirelt0Quaspen2qM")
                                     << QString::fromLatin1(QByteArray(15, '\0').append('G').append('\0').toBase64());
        QTest::newRow("two-byte UTF-8") << QStringLiteral("\u00E9") << QString::fromLatin1(QByteArray("\xC2\xA4").toBase64());
    }
    void obfuscation()
    {
        QFETCH(QString, plain);
        QFETCH(QString, stored);
        TempDataDir dir;
        const QString encoded = DataManager::encryptPasswordStatic(plain);
        if (!stored.isEmpty())
            QCOMPARE(encoded, stored);
        QVERIFY(plain.isEmpty() || encoded != plain);
        QCOMPARE(DataManager::decryptPasswordStatic(encoded), plain);
        const QString junky = encoded.left(2) + QStringLiteral(" \n!") + encoded.mid(2);
        QCOMPARE(DataManager::decryptPasswordStatic(junky), plain);
        DataManager().addPassword(QStringLiteral("https://a/"), QStringLiteral("u"), plain);
        const QString fromFile = DataManager().getPasswords().at(0)[QLatin1String("password")].toString();
        QCOMPARE(DataManager::decryptPasswordStatic(fromFile), plain);
    }

    void damagedFileIsKeptAside_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        for (const char *file : {"bookmarks.json", "history.json", "passwords.json", "session.json"}) {
            QTest::addRow("%s torn", file) << QString::fromLatin1(file) << QByteArray("[{\"url\":\"https://a/\",\"ti");
            QTest::addRow("%s object", file) << QString::fromLatin1(file) << QByteArray("{\"url\":\"https://a/\"}");
        }
        QTest::newRow("settings torn") << QStringLiteral("settings.json") << QByteArray("{\"theme\":");
        QTest::newRow("settings array") << QStringLiteral("settings.json") << QByteArray("[]");
    }
    void damagedFileIsKeptAside()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        TempDataDir dir;
        dir.writeFile(file, content);
        const bool secret = file == QLatin1String("passwords.json");
        if (secret)
            QFile::setPermissions(dir.filePath(file), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("unreadable data in .*") + QRegularExpression::escape(file)));
        DataManager dm;
        QVERIFY(dm.getBookmarks().isEmpty() && dm.getHistory().isEmpty() && dm.getPasswords().isEmpty() && dm.getSession().isEmpty());
        QCOMPARE(dir.readFile(file), content);
        const QStringList backups = filesIn(dir.dataFolder(), file + QStringLiteral(".corrupt-*"));
        QCOMPARE(backups.size(), 1);
        QCOMPARE(dir.readFile(backups.first()), content);
        if (secret)
            QCOMPARE(permissionBits(dir.filePath(backups.first())), 0600);
        dm.clearAll();
        QCOMPARE(dir.readFile(backups.first()), content);
    }
};

QTEST_GUILESS_MAIN(TestDataManager)
#include "tst_datamanager.moc"
