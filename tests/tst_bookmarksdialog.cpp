#include "BookmarksDialog.h"
#include "DataManager.h"
#include "ModalDriver.h"
#include "TempDataDir.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

// A fresh store holding A, then B (so B is listed first).
struct Fixture {
    TempDataDir dir;
    DataManager data;
    explicit Fixture(bool withBookmarks = true)
    {
        if (withBookmarks) {
            data.addBookmark(QStringLiteral("https://a.example/"), QStringLiteral("A"));
            data.addBookmark(QStringLiteral("https://b.example/"), QStringLiteral("B"));
        }
    }
};

static QStringList rows(BookmarksDialog &dialog, bool visibleOnly = false)
{
    QStringList out;
    for (int i = 0; i < dialog.tree()->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = dialog.tree()->topLevelItem(i);
        if (!visibleOnly || !item->isHidden())
            out.append(item->text(0) + QLatin1Char('|') + item->text(1));
    }
    return out;
}

// A null entry cancels the prompt.
static void answer(ModalDriver &driver, const QStringList &answers)
{
    for (const QString &a : answers)
        a.isNull() ? driver.enqueueCancel() : driver.enqueueText(a);
}

class TestBookmarksDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The offscreen platform notes each modal box it shows.
    void init()
    {
        QTest::failOnWarning(QRegularExpression(
            QStringLiteral("^(?!This plugin does not support propagateSizeHints\\(\\)$)")));
    }

    void filterMatching_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("matches");
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("title, other case") << QStringLiteral("qT dOC") << true;
        QTest::newRow("url part") << QStringLiteral("EXAMPLE.org/x") << true;
        QTest::newRow("neither") << QStringLiteral("zzz") << false;
        QTest::newRow("blank is not trimmed") << QStringLiteral(" Qt") << false;
    }
    void filterMatching()
    {
        QFETCH(QString, filter);
        QTEST(BookmarksDialog::matchesFilter(QStringLiteral("Qt Docs"), QStringLiteral("https://example.org/x"), filter),
              "matches");
    }

    // Add, edit or delete on the list "B, A" (A selected); the result is stored at once.
    // Answers: prompt texts (null cancels), or the button for the delete question.
    void changes_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("expected");
        const QString a = QStringLiteral("A|https://a.example/"), b = QStringLiteral("B|https://b.example/");
        QTest::newRow("add") << "add" << QStringList{"https://n.example/", "New"} << QStringList{"New|https://n.example/", b, a};
        QTest::newRow("add, empty title takes the url") << "add" << QStringList{"n.example", ""} << QStringList{"n.example|n.example", b, a};
        QTest::newRow("add, cancelled url still asks the title") << "add" << QStringList{QString(), "T"} << QStringList{b, a};
        QTest::newRow("edit replaces and moves to top") << "edit" << QStringList{"https://a2.example/", ""}
                                                        << QStringList{"https://a2.example/|https://a2.example/", b};
        QTest::newRow("edit, emptied url changes nothing") << "edit" << QStringList{"", "ignored"} << QStringList{b, a};
        QTest::newRow("delete, yes") << "delete" << QStringList{"Yes"} << QStringList{b};
        QTest::newRow("delete, no") << "delete" << QStringList{"No"} << QStringList{b, a};
    }
    void changes()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, answers);
        Fixture f;
        BookmarksDialog dialog(&f.data);
        dialog.tree()->setCurrentItem(dialog.tree()->topLevelItem(1));
        ModalDriver driver;
        if (action == QLatin1String("delete"))
            driver.enqueueButton(answers.first() == QLatin1String("Yes") ? QMessageBox::Yes : QMessageBox::No);
        else
            answer(driver, answers);
        QPushButton *button = action == QLatin1String("add") ? dialog.addButton()
                            : action == QLatin1String("edit") ? dialog.editButton() : dialog.deleteButton();
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(driver.allAnswered());
        QCOMPARE(driver.seen().size(), answers.size());
        if (action == QLatin1String("edit")) {
            QCOMPARE(driver.seen().at(0).initialText, QStringLiteral("https://a.example/"));
            QCOMPARE(driver.seen().at(1).initialText, QStringLiteral("A"));
        }
        QTEST(rows(dialog), "expected");
        DataManager reloaded;
        BookmarksDialog reopened(&reloaded);
        QTEST(rows(reopened), "expected");
    }

    void searchFiltersRowsAndFoldersDoubleClickOpens()
    {
        Fixture f(false);
        f.data.addBookmark(QStringLiteral("https://docs.qt.io/"), QStringLiteral("Qt Documentation"));
        f.data.addBookmark(QStringLiteral("https://news.example/qt"), QStringLiteral("News"));
        f.data.addBookmark(QStringLiteral("https://mail.example/"), QStringLiteral("Mail"));
        BookmarksDialog dialog(&f.data);
        ModalDriver driver;
        driver.enqueueText(QStringLiteral("Work"));
        QTest::mouseClick(dialog.addFolderButton(), Qt::LeftButton);
        QCOMPARE(rows(dialog, true).size(), 4);
        QSignalSpy selected(&dialog, &BookmarksDialog::urlSelected);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        dialog.onItemDoubleClicked(dialog.tree()->topLevelItem(3), 0); // the folder
        QCOMPARE(selected.count() + accepted.count(), 0);
        dialog.onItemDoubleClicked(dialog.tree()->topLevelItem(0), 1);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.first().first().toUrl(), QUrl(QStringLiteral("https://mail.example/")));
        QCOMPARE(accepted.count(), 1);

        QTest::keyClicks(dialog.searchField(), QStringLiteral("QT"));
        QCOMPARE(rows(dialog, true), (QStringList{QStringLiteral("News|https://news.example/qt"),
                                                  QStringLiteral("Qt Documentation|https://docs.qt.io/")}));
        dialog.searchField()->clear();
        QCOMPARE(rows(dialog, true).size(), 4);

        // A rebuild keeps the filter and drops the unsaved folder.
        dialog.searchField()->setText(QStringLiteral("mail"));
        answer(driver, {QStringLiteral("https://mail2.example/"), QStringLiteral("Other")});
        QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
        QCOMPARE(dialog.tree()->topLevelItemCount(), 4);
        QCOMPARE(rows(dialog, true), (QStringList{QStringLiteral("Other|https://mail2.example/"),
                                                  QStringLiteral("Mail|https://mail.example/")}));
    }
};

QTEST_MAIN(TestBookmarksDialog)
#include "tst_bookmarksdialog.moc"
