#include "DataManager.h"
#include "ModalAnswerer.h"
#include "PasswordCsv.h"
#include "PasswordDialog.h"
#include "TempDataDir.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(PasswordCsv::Format)

namespace {
QByteArray sample(const QString &name)
{
    QFile f(QStringLiteral(ORVEX_TEST_DATA_DIR "/passwords/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList rows(const QList<DataManager::Login> &logins)
{
    QStringList out;
    for (const auto &l : logins)
        out << l.url + u'|' + l.username + u'|' + l.password;
    return out;
}

// Every stored login as "url|user|clear password", in store order.
QStringList stored(const DataManager &data)
{
    QStringList out;
    for (const QJsonValue &v : data.getPasswords())
        out << v[u"url"_s].toString() + u'|' + v[u"username"_s].toString() + u'|'
                + DataManager::decryptPasswordStatic(v[u"password"_s].toString());
    return out;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QStringList captured;
QtMessageHandler previous = nullptr;

const QString kJsonExport = u"OrvexBrowser file (JSON, passwords obfuscated)..."_s;
const QString kCsvExport = u"For other browsers (CSV, passwords in plain text)..."_s;
}

// Password CSV files of other browsers: the reader and writer, and the
// dialog's import and export, without a password reaching a log, a message
// or a stray file.
class TestPasswordCsv : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        // The offscreen platform notes what it cannot do for popups and modal boxes.
        QTest::failOnWarning(QRegularExpression(u"^(?!This plugin does not support )"_s));
        captured.clear();
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
            captured.append(text);
            previous(type, context, text);
        });
    }
    void cleanup() { qInstallMessageHandler(previous); }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<PasswordCsv::Format>("format");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("skipped");

        QTest::newRow("chromium export") << sample(u"chromium.csv"_s) << PasswordCsv::Format::Chromium
            << QStringList{"https://github.com/session|alice|pa,ss\"word",
                           "https://accounts.example.com/login|bob@example.com|line one\nline two",
                           "android://Jzj5T2E45Hb33D-lk-EHZVCrb7a064dEicTwrTYQYGXO99JqE2YERhbMP1qLogwJiy87OsBzC09Gk094Z-U_hg==@com.example.app/|erin|app-secret"}
            << 2;
        QTest::newRow("firefox export: BOM, CRLF, all quoted, a short row") << sample(u"firefox.csv"_s) << PasswordCsv::Format::Firefox
            << QStringList{"https://www.mozilla.org|frank|fr@nk!", "https://intranet.example|grace| g r a c e "} << 1;
        QTest::newRow("older chromium, four columns") << QByteArray("name,url,username,password\na.example,https://a.example/,ann,pw\n")
            << PasswordCsv::Format::Chromium << QStringList{"https://a.example/|ann|pw"} << 0;
        QTest::newRow("other column order and spelling") << QByteArray("Title,URL,Username,Password,Notes,OTPAuth\nA,https://a.example/,ann,pw,,\n")
            << PasswordCsv::Format::Other << QStringList{"https://a.example/|ann|pw"} << 0;
        QTest::newRow("empty user name kept, blank lines ignored")
            << QByteArray("name,url,username,password\n\n,https://a.example/,,pw\n\r\n\n") << PasswordCsv::Format::Chromium
            << QStringList{"https://a.example/||pw"} << 0;
        QTest::newRow("no url or no password: skipped and counted")
            << QByteArray("name,url,username,password\nx,,ann,pw\nx,   ,bob,pw\nx,https://a.example/,cy,\nx,https://b.example/,dee,pw\n")
            << PasswordCsv::Format::Chromium << QStringList{"https://b.example/|dee|pw"} << 3;
        QTest::newRow("missing column") << QByteArray("name,url,username,password\nx,https://a.example/,ann\nx,https://b.example/,bob,pw,extra,more\n")
            << PasswordCsv::Format::Chromium << QStringList{"https://b.example/|bob|pw"} << 1;
        QTest::newRow("old Mac line ends") << QByteArray("name,url,username,password\rx,https://a.example/,ann,pw\r")
            << PasswordCsv::Format::Chromium << QStringList{"https://a.example/|ann|pw"} << 0;
        QTest::newRow("no line end at the end") << QByteArray("name,url,username,password\r\nx,https://a.example/,ann,\"p\"\"w\"")
            << PasswordCsv::Format::Chromium << QStringList{"https://a.example/|ann|p\"w"} << 0;
        QTest::newRow("stray quotes kept as written") << QByteArray("name,url,username,password\nx,https://a.example/,an\"n,\"pw\"tail\n")
            << PasswordCsv::Format::Chromium << QStringList{"https://a.example/|an\"n|pwtail"} << 0;
        QTest::newRow("quoted empty fields and CRLF inside quotes")
            << QByteArray("name,url,username,password\r\n\"\",\"https://a.example/\",\"\",\"a\r\nb\"\r\n")
            << PasswordCsv::Format::Chromium << QStringList{"https://a.example/||a\r\nb"} << 0;
        QTest::newRow("header only") << QByteArray("url,username,password,httpRealm,formActionOrigin,guid,timeCreated,timeLastUsed,timePasswordChanged\n")
            << PasswordCsv::Format::Firefox << QStringList{} << 0;
        QTest::newRow("UTF-8 text") << QByteArray("name,url,username,password\nx,https://bücher.example/,jürgen,pässwörd✓\n")
            << PasswordCsv::Format::Chromium << QStringList{"https://bücher.example/|jürgen|pässwörd✓"} << 0;
    }
    void parse()
    {
        QFETCH(QByteArray, csv);
        QFETCH(PasswordCsv::Format, format);
        QFETCH(QStringList, expected);
        QFETCH(int, skipped);
        QVERIFY(!csv.isEmpty());
        const PasswordCsv::ParseResult result = PasswordCsv::parse(csv);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.format, format);
        QCOMPARE(rows(result.logins), expected);
        QCOMPARE(result.skipped, skipped);
    }

    // A damaged or foreign file is refused whole; the reason names a line, never a field.
    void refused_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QString>("error");
        const QString header = u"the first line is not the header of a password export (it needs the columns url, username and password)"_s;
        QTest::newRow("unterminated quote") << QByteArray("name,url,username,password\nx,https://a.example/,ann,ok\nx,https://b.example/,bob,\"s3cret-pw,\nmore\n")
            << u"the quoted field that begins on line 3 is never closed"_s;
        QTest::newRow("quote open in the header") << QByteArray("\"name,url,username,password\n") << u"the quoted field that begins on line 1 is never closed"_s;
        QTest::newRow("empty file") << QByteArray() << header;
        QTest::newRow("only a BOM") << QByteArray("\xEF\xBB\xBF") << header;
        QTest::newRow("no header") << QByteArray("https://a.example/,ann,s3cret-pw\n") << header;
        QTest::newRow("password column missing") << QByteArray("name,url,username\nx,https://a.example/,ann\n") << header;
        QTest::newRow("binary") << QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==") << header;
    }
    void refused()
    {
        QFETCH(QByteArray, csv);
        QFETCH(QString, error);
        const PasswordCsv::ParseResult result = PasswordCsv::parse(csv);
        QVERIFY(!result.ok);
        QCOMPARE(result.error, error);
        QVERIFY(result.logins.isEmpty());
        QVERIFY(!result.error.contains(u"s3cret"_s));
    }

    void tooManyRows()
    {
        QByteArray csv = "url,username,password\n";
        const QByteArray row = "https://a.example/,u,p\n";
        csv.reserve(csv.size() + row.size() * (PasswordCsv::maxRows + 1));
        for (int i = 0; i <= PasswordCsv::maxRows; ++i)
            csv += row;
        const PasswordCsv::ParseResult result = PasswordCsv::parse(csv);
        QVERIFY(!result.ok);
        QCOMPARE(result.error, u"the file holds more than 20000 rows"_s);
        QVERIFY(result.logins.isEmpty());
    }

    // The Chromium format, quoted where needed, reads back to the same logins.
    void writeRoundTrip()
    {
        TempDataDir dir;
        DataManager data;
        data.addPassword(u"https://github.com/session"_s, u"alice"_s, u"pa,ss\"word"_s);
        data.addPassword(u"https://a.example/"_s, u" spaced "_s, u"line one\nline two"_s);
        data.addPassword(u"android://x@com.example.app/"_s, u""_s, u"=SUM(1)"_s);
        int written = 0;
        const QByteArray csv = PasswordCsv::write(data.getPasswords(), &written);
        QCOMPARE(written, 3);
        QCOMPARE(csv, QByteArray("name,url,username,password\r\n"
                                 "github.com,https://github.com/session,alice,\"pa,ss\"\"word\"\r\n"
                                 "a.example,https://a.example/,\" spaced \",\"line one\nline two\"\r\n"
                                 "com.example.app,android://x@com.example.app/,,=SUM(1)\r\n"));
        const PasswordCsv::ParseResult back = PasswordCsv::parse(csv);
        QCOMPARE(back.format, PasswordCsv::Format::Chromium);
        QCOMPARE(rows(back.logins), stored(data));
    }

    // Same site and user replaces the stored login (as the JSON import does), the
    // others stay; the counts are shown; the file is told apart from JSON by its content.
    void dialogImportsCsv()
    {
        TempDataDir dir;
        DataManager data;
        data.addPassword(u"https://github.com/session"_s, u"alice"_s, u"old"_s);
        data.addPassword(u"https://github.com/session"_s, u"other"_s, u"kept"_s);
        PasswordDialog dialog(&data);
        const QString path = dir.downloadDir() + u"/Chrome Passwords.csv"_s;
        writeFile(path, sample(u"chromium.csv"_s));
        dialog.setFileChooser([&](QWidget *, const QString &, const QString &, const QString &filter, bool save) {
            return !save && filter.contains(u"*.csv"_s) ? path : QString();
        });
        ModalAnswerer told({u"OK"_s});
        QTest::mouseClick(dialog.importButton(), Qt::LeftButton);
        QCOMPARE(told.seen().last().label, u"Imported 3 passwords (2 skipped)"_s);
        QCOMPARE(stored(data), (QStringList{"https://github.com/session|other|kept",
                                            "https://github.com/session|alice|pa,ss\"word",
                                            "https://accounts.example.com/login|bob@example.com|line one\nline two",
                                            "android://Jzj5T2E45Hb33D-lk-EHZVCrb7a064dEicTwrTYQYGXO99JqE2YERhbMP1qLogwJiy87OsBzC09Gk094Z-U_hg==@com.example.app/|erin|app-secret"}));
        QCOMPARE(dialog.table()->rowCount(), 4);
        QVERIFY(!dir.readFile(u"passwords.json"_s).contains("pa,ss"));

        writeFile(path, sample(u"firefox.csv"_s));
        told.enqueue({u"OK"_s});
        QTest::mouseClick(dialog.importButton(), Qt::LeftButton);
        QCOMPARE(told.seen().last().label, u"Imported 2 passwords (1 skipped)"_s);
        QCOMPARE(DataManager().getPasswords().size(), 6);

        // A broken file changes nothing, and its message holds no field of it.
        const QByteArray before = dir.readFile(u"passwords.json"_s);
        writeFile(path, "url,username,password\nhttps://z.example/,zed,\"Unfinished-Secret-42\n");
        told.enqueue({u"OK"_s});
        QTest::mouseClick(dialog.importButton(), Qt::LeftButton);
        QCOMPARE(told.seen().last().label, u"Import failed: the quoted field that begins on line 2 is never closed"_s);
        QCOMPARE(dir.readFile(u"passwords.json"_s), before);
        for (const QString &secret : {u"pa,ss"_s, u"app-secret"_s, u"fr@nk!"_s, u"Unfinished-Secret"_s}) {
            for (const QString &message : std::as_const(captured))
                QVERIFY2(!message.contains(secret), qPrintable(message));
        }
        // Nothing was written anywhere but the store.
        QCOMPARE(QDir(dir.tempDir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{});
        QCOMPARE(QDir(dir.downloadDir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{u"Chrome Passwords.csv"_s});
    }

    // Oversized files are refused before parsing, the store untouched.
    void oversizedFiles_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("message");
        QTest::newRow("CSV over 8 MB") << qint64(9) * 1024 * 1024 << u"Import failed: the file is larger than 8 MB"_s;
        QTest::newRow("anything over 16 MB") << qint64(100) * 1024 * 1024 << u"Import failed: the file is larger than 16 MB"_s;
    }
    void oversizedFiles()
    {
        QFETCH(qint64, size);
        QFETCH(QString, message);
        TempDataDir dir;
        DataManager data;
        data.addPassword(u"https://kept.example/"_s, u"ann"_s, u"pw"_s);
        const QByteArray before = dir.readFile(u"passwords.json"_s);
        const QString path = dir.downloadDir() + u"/big.csv"_s;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("name,url,username,password\n");
        QVERIFY(file.resize(size));
        file.close();
        PasswordDialog dialog(&data);
        dialog.setFileChooser([&](QWidget *, const QString &, const QString &, const QString &, bool) { return path; });
        ModalAnswerer told({u"OK"_s});
        QTest::mouseClick(dialog.importButton(), Qt::LeftButton);
        QCOMPARE(told.seen().last().label, message);
        QCOMPARE(dir.readFile(u"passwords.json"_s), before);
    }

    // 10,000 logins import with one store write, quickly.
    void tenThousandRows()
    {
        TempDataDir dir;
        DataManager data;
        data.addPassword(u"https://site5000.example/login"_s, u"user5000"_s, u"old"_s);
        QByteArray csv = "name,url,username,password,note\r\n";
        for (int i = 0; i < 10000; ++i)
            csv += "site" + QByteArray::number(i) + ".example,https://site" + QByteArray::number(i)
                + ".example/login,user" + QByteArray::number(i) + ",\"pw," + QByteArray::number(i) + "\",\r\n";
        const QString path = dir.downloadDir() + u"/many.csv"_s;
        writeFile(path, csv);
        PasswordDialog dialog(&data);
        dialog.setFileChooser([&](QWidget *, const QString &, const QString &, const QString &, bool) { return path; });
        ModalAnswerer told({u"OK"_s});
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(dialog.importButton(), Qt::LeftButton);
        // Adding one login at a time rebuilt the list for each: about 18 s here.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(told.seen().last().label, u"Imported 10000 passwords (0 skipped)"_s);
        const QStringList back = stored(DataManager());
        QCOMPARE(back.size(), 10000);
        QCOMPARE(back.first(), u"https://site0.example/login|user0|pw,0"_s);
        QVERIFY(back.contains(u"https://site5000.example/login|user5000|pw,5000"_s));
        QCOMPARE(dialog.table()->rowCount(), 10000);
    }

    // The CSV export warns first (default No), asks for the file, writes it 0600
    // and whole; other browsers' reader (ours) gets the same logins back.
    void dialogExportsCsv()
    {
        TempDataDir dir;
        DataManager data;
        data.addPassword(u"https://a.example/"_s, u"ann"_s, u"Secret-A,1"_s);
        data.addPassword(u"https://b.example/"_s, u"ben"_s, u"Secret-\"B\""_s);
        PasswordDialog dialog(&data);
        const QString path = dir.downloadDir() + u"/passwords.csv"_s;
        QString suggested;
        dialog.setFileChooser([&](QWidget *, const QString &, const QString &start, const QString &filter, bool save) {
            suggested = start;
            return save && filter.contains(u"*.csv"_s) ? path : QString();
        });

        ModalAnswerer declined({u"No"_s});
        ModalAnswerer::triggerMenuAction(kCsvExport);
        QTest::mouseClick(dialog.exportButton(), Qt::LeftButton);
        QTRY_VERIFY(declined.allAnswered());
        QVERIFY(declined.seen().last().label.startsWith(u"The CSV file holds your passwords in plain text"_s));
        QVERIFY(!QFile::exists(path));

        ModalAnswerer told({u"Yes"_s, u"OK"_s});
        ModalAnswerer::triggerMenuAction(kCsvExport);
        QTest::mouseClick(dialog.exportButton(), Qt::LeftButton);
        QTRY_VERIFY(told.allAnswered());
        QCOMPARE(suggested, dir.downloadDir() + u"/passwords.csv"_s);
        QCOMPARE(told.seen().last().label, u"Exported 2 passwords to "_s + path);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(rows(PasswordCsv::parse(file.readAll()).logins), stored(data));
        QCOMPARE(QDir(dir.downloadDir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
                 QStringList{u"passwords.csv"_s});
        for (const QString &message : std::as_const(captured))
            QVERIFY2(!message.contains(u"Secret-"_s), qPrintable(message));
    }

    // The JSON export stays beside it, obfuscated as before.
    void jsonExportStays()
    {
        TempDataDir dir;
        DataManager data;
        data.addPassword(u"https://a.example/"_s, u"ann"_s, u"Secret-A"_s);
        PasswordDialog dialog(&data);
        const QString path = dir.downloadDir() + u"/logins.json"_s;
        dialog.setFileChooser([&](QWidget *, const QString &, const QString &, const QString &filter, bool save) {
            return save && filter.contains(u"*.json"_s) ? path : QString();
        });
        ModalAnswerer told({u"OK"_s});
        ModalAnswerer::triggerMenuAction(kJsonExport);
        QTest::mouseClick(dialog.exportButton(), Qt::LeftButton);
        QTRY_VERIFY(told.allAnswered());
        QCOMPARE(told.seen().last().label, u"Passwords exported successfully!"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray json = file.readAll();
        QVERIFY(!json.contains("Secret-A"));
        QCOMPARE(QJsonDocument::fromJson(json).array(), data.getPasswords());
    }

    // The dialog says what the stored form is.
    void honestStorageNote()
    {
        TempDataDir dir;
        DataManager data;
        PasswordDialog dialog(&data);
        QStringList texts;
        for (const QLabel *label : dialog.findChildren<QLabel *>())
            texts << label->text();
        QVERIFY(texts.join(u'\n').contains(u"obfuscated, not encrypted: anyone with access to your files can read them"_s));
        QVERIFY(!texts.join(u'\n').contains(u"encrypted and"_s));
    }
};

QTEST_MAIN(TestPasswordCsv)
#include "tst_passwordcsv.moc"
