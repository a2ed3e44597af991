#include "DataManager.h"
#include "ModalDriver.h"
#include "PasswordDialog.h"
#include "TempDataDir.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestPasswordDialog : public QObject
{
    Q_OBJECT

    static void chooseFile(PasswordDialog &dialog, const QString &path)
    {
        dialog.setFileChooser([path](QWidget *, const QString &, const QString &, const QString &, bool) { return path; });
    }
    static const QString mask() { return u"\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022"_s; }

private Q_SLOTS:
    // The offscreen platform notes each modal box it shows.
    void init()
    {
        QTest::failOnWarning(QRegularExpression(u"^(?!This plugin does not support propagateSizeHints\\(\\)$)"_s));
    }

    // Two logins of one site: show and delete act on the selected login only.
    void showAndDeleteOneLogin()
    {
        TempDataDir dir;
        DataManager data;
        data.addPassword(u"https://site.example"_s, u"alice"_s, u"pw-alice"_s);
        data.addPassword(u"https://site.example"_s, u"bob"_s, u"pw-bob"_s);
        PasswordDialog dialog(&data);
        dialog.table()->selectRow(1);
        QTest::mouseClick(dialog.showButton(), Qt::LeftButton);
        QCOMPARE(dialog.table()->item(0, 2)->text(), mask());
        QCOMPARE(dialog.table()->item(1, 2)->text(), u"pw-bob"_s);

        ModalDriver driver;
        for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
            dialog.table()->selectRow(0);
            driver.enqueueButton(answer);
            QTest::mouseClick(dialog.deleteButton(), Qt::LeftButton);
        }
        QCOMPARE(dialog.table()->rowCount(), 1);
        QCOMPARE(dialog.table()->item(0, 1)->text(), u"bob"_s);
        QCOMPARE(DataManager().getPasswords(), data.getPasswords());
    }

    // Only a successful export writes a file, 0600 and without clear text;
    // nothing else touches the store or the folder. A null path: cancelled.
    void fileActions_data()
    {
        QTest::addColumn<bool>("import");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("content"); // null: no such file
        QTest::addColumn<QString>("reason");
        QTest::newRow("export") << false << "out.json" << QByteArray() << "^Passwords exported successfully!$";
        QTest::newRow("missing file") << true << "in.json" << QByteArray() << "Import failed: .*No such file";
        QTest::newRow("text file") << true << "in.json" << QByteArray("just some notes\n") << "Import failed: .*not valid JSON";
        QTest::newRow("object") << true << "in.json" << QByteArray("{\"passwords\": []}") << "Import failed: .*does not hold a list";
        // A path below a regular file can't be created, even by root.
        QTest::newRow("export below a file") << false << "in.json/out.json" << QByteArray("x") << "^Export failed: ";
        QTest::newRow("import cancelled") << true << QString() << QByteArray() << QString();
    }
    void fileActions()
    {
        QFETCH(bool, import);
        QFETCH(QString, path);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        TempDataDir dir;
        DataManager data;
        data.addPassword(u"https://keep.example"_s, u"k"_s, u"Secret-pw"_s);
        const QByteArray storeBefore = dir.readFile(u"passwords.json"_s);
        if (!content.isNull()) {
            QFile f(dir.downloadDir() + u"/in.json"_s);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
        }
        PasswordDialog dialog(&data);
        chooseFile(dialog, path.isNull() ? path : dir.downloadDir() + QLatin1Char('/') + path);
        ModalDriver driver;
        if (!reason.isEmpty())
            driver.enqueueButton(QMessageBox::Ok);
        import ? dialog.onImportPasswords() : dialog.onExportPasswords();
        QCOMPARE(driver.seen().size(), reason.isEmpty() ? 0 : 1);
        if (!reason.isEmpty())
            QVERIFY2(driver.seen().first().label.contains(QRegularExpression(reason)), qPrintable(driver.seen().first().label));
        QCOMPARE(dir.readFile(u"passwords.json"_s), storeBefore);
        QCOMPARE(dialog.table()->rowCount(), 1);
        const bool exported = path == u"out.json"_s;
        QCOMPARE(QDir(dir.downloadDir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), int(!content.isNull() || exported));
        if (exported) {
            const QString out = dir.downloadDir() + u"/out.json"_s;
            QFile file(out);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QVERIFY(!bytes.contains("Secret-"));
            QCOMPARE(QJsonDocument::fromJson(bytes).array(), data.getPasswords());
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(out).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 0777), 0600);
        }
    }
};

QTEST_MAIN(TestPasswordDialog)
#include "tst_passworddialog.moc"
