#include "BookmarksDialog.h"
#include "DataManager.h"
#include "ModalAnswerer.h"
#include "TempDataDir.h"

#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

// "title|url" of each row (only the rows the filter leaves, if asked).
static QStringList rows(BookmarksDialog &dialog, bool visibleOnly = false)
{
    QStringList out;
    for (int i = 0; i < dialog.tree()->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = dialog.tree()->topLevelItem(i);
        if (!visibleOnly || !item->isHidden())
            out.append(item->text(0) + u'|' + item->text(1));
    }
    return out;
}

class TestBookmarksDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The offscreen platform notes each modal box it shows.
    void init() { QTest::failOnWarning(QRegularExpression(u"^(?!This plugin does not support propagateSizeHints\\(\\)$)"_s)); }

    // Add, edit or delete on the list "B, A" with A selected; the result is stored at once.
    // Answers: url and title prompts (null cancels), or the button of the delete question.
    void changes_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("expected");
        const QString a = u"A|https://a.example/"_s, b = u"B|https://b.example/"_s;
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
        TempDataDir dir;
        DataManager data;
        data.addBookmark(u"https://a.example/"_s, u"A"_s);
        data.addBookmark(u"https://b.example/"_s, u"B"_s);
        BookmarksDialog dialog(&data);
        dialog.tree()->setCurrentItem(dialog.tree()->topLevelItem(1));
        ModalAnswerer prompts(answers);
        QTest::mouseClick(action == "add"_L1 ? dialog.addButton() : action == "edit"_L1 ? dialog.editButton()
                                                                                        : dialog.deleteButton(),
                          Qt::LeftButton);
        QVERIFY(prompts.allAnswered());
        QCOMPARE(prompts.seen().size(), answers.size());
        if (action == "edit"_L1) {
            QCOMPARE(prompts.seen().at(0).initialText, u"https://a.example/"_s);
            QCOMPARE(prompts.seen().at(1).initialText, u"A"_s);
        }
        QTEST(rows(dialog), "expected");
        DataManager reloaded;
        BookmarksDialog reopened(&reloaded);
        QTEST(rows(reopened), "expected");
    }

    // The search matches title or URL in any case; folders neither open nor are stored.
    void searchFiltersRowsAndFoldersDoubleClickOpens()
    {
        TempDataDir dir;
        DataManager data;
        data.addBookmark(u"https://docs.qt.io/"_s, u"Qt Documentation"_s);
        data.addBookmark(u"https://news.example/qt"_s, u"News"_s);
        data.addBookmark(u"https://mail.example/"_s, u"Mail"_s);
        BookmarksDialog dialog(&data);
        ModalAnswerer prompts({u"Work"_s});
        QTest::mouseClick(dialog.addFolderButton(), Qt::LeftButton);
        QCOMPARE(rows(dialog, true).size(), 4);
        QSignalSpy selected(&dialog, &BookmarksDialog::urlSelected);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        dialog.onItemDoubleClicked(dialog.tree()->topLevelItem(3), 0); // the folder
        QCOMPARE(selected.count() + accepted.count(), 0);
        dialog.onItemDoubleClicked(dialog.tree()->topLevelItem(0), 1);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.first().first().toUrl(), QUrl(u"https://mail.example/"_s));
        QCOMPARE(accepted.count(), 1);

        QTest::keyClicks(dialog.searchField(), u"QT"_s);
        QCOMPARE(rows(dialog, true), (QStringList{"News|https://news.example/qt", "Qt Documentation|https://docs.qt.io/"}));
        dialog.searchField()->setText(u" qt"_s); // not trimmed
        QCOMPARE(rows(dialog, true), QStringList());
        dialog.searchField()->clear();
        QCOMPARE(rows(dialog, true).size(), 4);

        // A rebuild keeps the filter and drops the unsaved folder.
        dialog.searchField()->setText(u"mail"_s);
        prompts.enqueue({u"https://mail2.example/"_s, u"Other"_s});
        QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
        QCOMPARE(dialog.tree()->topLevelItemCount(), 4);
        QCOMPARE(rows(dialog, true), (QStringList{"Other|https://mail2.example/", "Mail|https://mail.example/"}));
    }
};

QTEST_MAIN(TestBookmarksDialog)
#include "tst_bookmarksdialog.moc"
