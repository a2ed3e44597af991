#include "DataManager.h"
#include "ModalAnswerer.h"
#include "PasswordDialog.h"
#include "TempDataDir.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

static const QString mask = u"\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022"_s;

// "site|user|password cell" per row.
static QStringList rows(PasswordDialog &dialog)
{
    QStringList out;
    for (int r = 0; r < dialog.table()->rowCount(); ++r)
        out << dialog.table()->item(r, 0)->text() + u'|' + dialog.table()->item(r, 1)->text() + u'|'
                + dialog.table()->item(r, 2)->text();
    return out;
}

// Every stored login as "url|user|clear password", sorted.
static QStringList logins(const DataManager &data)
{
    QStringList out;
    for (const QJsonValue &v : data.getPasswords()) {
        const QJsonObject o = v.toObject();
        out << o.value(u"url"_s).toString() + u'|' + o.value(u"username"_s).toString() + u'|'
                + DataManager::decryptPasswordStatic(o.value(u"password"_s).toString());
    }
    out.sort();
    return out;
}

static void chooseFile(PasswordDialog &dialog, const QString &path)
{
    dialog.setFileChooser([path](QWidget *, const QString &, const QString &, const QString &, bool) { return path; });
}

static bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

class TestPasswordDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The offscreen platform notes each modal box it shows.
    void init() { QTest::failOnWarning(QRegularExpression(u"^(?!This plugin does not support propagateSizeHints\\(\\)$)"_s)); }

    // Two logins of one site: show, edit and delete act on the selected login only.
    void addEditShowDelete()
    {
        TempDataDir dir;
        DataManager data;
        PasswordDialog dialog(&data);
        ModalAnswerer prompts({"https://site.example", "alice", "pw-alice", "https://site.example", "bob", "pw-bob"});
        QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
        QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
        QCOMPARE(prompts.seen().size(), 6);
        QCOMPARE(prompts.seen().at(2).echo, QLineEdit::Password);
        QCOMPARE(rows(dialog), (QStringList{"https://site.example|alice|" + mask, "https://site.example|bob|" + mask}));
        // A cancelled answer adds nothing.
        prompts.enqueue({u"https://x.example"_s, QString(), u"pw"_s});
        QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
        QCOMPARE(dialog.table()->rowCount(), 2);

        dialog.table()->selectRow(1);
        QTest::mouseClick(dialog.showButton(), Qt::LeftButton);
        QCOMPARE(rows(dialog), (QStringList{"https://site.example|alice|" + mask, "https://site.example|bob|pw-bob"}));

        // The old password is not offered as the edit's initial text; the list is masked again.
        prompts.enqueue({u"pw-bob-2"_s});
        QTest::mouseClick(dialog.editButton(), Qt::LeftButton);
        QCOMPARE(prompts.seen().last().initialText, QString());
        QCOMPARE(prompts.seen().last().echo, QLineEdit::Password);
        QCOMPARE(logins(data), (QStringList{"https://site.example|alice|pw-alice", "https://site.example|bob|pw-bob-2"}));
        QCOMPARE(dialog.table()->item(1, 2)->text(), mask);

        // Delete asks first; Yes removes alice's login and leaves bob's.
        for (const QString &answer : {u"No"_s, u"Yes"_s}) {
            dialog.table()->selectRow(0);
            prompts.enqueue({answer});
            QTest::mouseClick(dialog.deleteButton(), Qt::LeftButton);
        }
        QCOMPARE(rows(dialog), QStringList{"https://site.example|bob|" + mask});
        QCOMPARE(DataManager().getPasswords(), data.getPasswords());
    }

    void exportImportRoundTrip()
    {
        TempDataDir dir;
        DataManager data;
        data.addPassword(u"https://a.example"_s, u"ann"_s, u"Secret-A-1234"_s);
        data.addPassword(u"https://b.example"_s, u"ben"_s, u"Secret-B-5678"_s);
        const QJsonArray before = data.getPasswords();
        PasswordDialog dialog(&data);
        const QString path = dir.downloadDir() + u"/logins.json"_s;
        chooseFile(dialog, path);
        ModalAnswerer told({u"OK"_s});
        QTest::mouseClick(dialog.exportButton(), Qt::LeftButton);
        QCOMPARE(told.seen().last().label, u"Passwords exported successfully!"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray exported = file.readAll();
        QVERIFY(!exported.contains("Secret-"));
        QCOMPARE(QJsonDocument::fromJson(exported).array(), before);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);

        // Import replaces the same website and user name, others stay; elements
        // without a string url, username or password are skipped and counted.
        QJsonArray withBroken = before;
        for (const char *broken : {R"({"url": "https://bad.example"})", R"({"url": "c", "username": 5, "password": "x"})",
                                   R"({"url": "", "username": "u", "password": "x"})", R"("text")", "7", "null"})
            withBroken.append(QJsonDocument::fromJson(QByteArray("[") + broken + "]").array().first());
        QVERIFY(writeFile(path, QJsonDocument(withBroken).toJson()));
        data.addPassword(u"https://a.example"_s, u"ann"_s, u"changed"_s);
        data.addPassword(u"https://c.example"_s, u"cy"_s, u"Secret-C"_s);
        told.enqueue({u"OK"_s});
        QTest::mouseClick(dialog.importButton(), Qt::LeftButton);
        QVERIFY2(told.seen().last().label.startsWith(u"Passwords imported successfully!"_s)
                     && told.seen().last().label.contains(u"6 of 8 entries were skipped"_s),
                 qPrintable(told.seen().last().label));
        QCOMPARE(logins(data), (QStringList{"https://a.example|ann|Secret-A-1234", "https://b.example|ben|Secret-B-5678",
                                            "https://c.example|cy|Secret-C"}));
        QCOMPARE(dialog.table()->rowCount(), 3);
        QVERIFY(!dir.readFile(u"passwords.json"_s).contains("Secret"));
    }

    // A null path: the file chooser was cancelled. Nothing changes either way.
    void failedFileActions_data()
    {
        QTest::addColumn<bool>("import");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("content"); // of in.json; null: no such file
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing file") << true << "in.json" << QByteArray() << "Import failed: .*No such file";
        QTest::newRow("text file") << true << "in.json" << QByteArray("just some notes\n") << "Import failed: .*not valid JSON";
        QTest::newRow("object") << true << "in.json" << QByteArray("{\"passwords\": []}") << "Import failed: .*does not hold a list";
        // A path below a regular file can't be created, even by root.
        QTest::newRow("export below a file") << false << "in.json/out.json" << QByteArray("x") << "^Export failed: ";
        QTest::newRow("import cancelled") << true << QString() << QByteArray() << QString();
        QTest::newRow("export cancelled") << false << QString() << QByteArray() << QString();
    }
    void failedFileActions()
    {
        QFETCH(bool, import);
        QFETCH(QString, path);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        TempDataDir dir;
        DataManager data;
        data.addPassword(u"https://keep.example"_s, u"k"_s, u"pw"_s);
        const QByteArray storeBefore = dir.readFile(u"passwords.json"_s);
        if (!content.isNull())
            QVERIFY(writeFile(dir.downloadDir() + u"/in.json"_s, content));
        PasswordDialog dialog(&data);
        chooseFile(dialog, path.isNull() ? path : dir.downloadDir() + u'/' + path);
        ModalAnswerer told(reason.isEmpty() ? QStringList() : QStringList{u"OK"_s});
        import ? dialog.onImportPasswords() : dialog.onExportPasswords();
        QCOMPARE(told.seen().size(), reason.isEmpty() ? 0 : 1);
        if (!reason.isEmpty())
            QVERIFY2(told.seen().first().label.contains(QRegularExpression(reason)), qPrintable(told.seen().first().label));
        QCOMPARE(dir.readFile(u"passwords.json"_s), storeBefore);
        QCOMPARE(dialog.table()->rowCount(), 1);
        QCOMPARE(QDir(dir.downloadDir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), content.isNull() ? 0 : 1);
    }
};

QTEST_MAIN(TestPasswordDialog)
#include "tst_passworddialog.moc"
