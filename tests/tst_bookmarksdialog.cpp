#include "BookmarksDialog.h"
#include "DataManager.h"
#include "ModalDriver.h"
#include "TempDataDir.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

class TestBookmarksDialog : public QObject
{
    Q_OBJECT

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
    static QStringList storedUrls(const DataManager &data)
    {
        QStringList out;
        for (const QJsonValue &v : data.getBookmarks())
            out.append(v.toObject().value(QStringLiteral("url")).toString());
        return out;
    }

private Q_SLOTS:
    // Every warning fails, except the offscreen platform's note on each
    // modal box it shows.
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

    void listsNewestFirstWithButtonsFollowingSelection()
    {
        TempDataDir dir;
        DataManager data;
        BookmarksDialog empty(&data);
        QCOMPARE(empty.tree()->topLevelItemCount(), 0);
        QVERIFY(!empty.editButton()->isEnabled());
        QVERIFY(!empty.deleteButton()->isEnabled());

        data.addBookmark(QStringLiteral("https://a.example/"), QStringLiteral("A"));
        data.addBookmark(QStringLiteral("https://b.example/"), QStringLiteral("B"));
        BookmarksDialog dialog(&data);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Bookmarks"));
        QCOMPARE(rows(dialog), (QStringList{QStringLiteral("B|https://b.example/"), QStringLiteral("A|https://a.example/")}));
        dialog.tree()->setCurrentItem(dialog.tree()->topLevelItem(1));
        QVERIFY(dialog.editButton()->isEnabled());
        QVERIFY(dialog.deleteButton()->isEnabled());
        dialog.tree()->clearSelection();
        QVERIFY(!dialog.editButton()->isEnabled());
    }

    void addPrompts_data()
    {
        QTest::addColumn<QStringList>("answers"); // null entry: cancel
        QTest::addColumn<QStringList>("expectedRows");
        QTest::newRow("url and title") << QStringList{QStringLiteral("https://n.example/"), QStringLiteral("New")}
                                       << QStringList{QStringLiteral("New|https://n.example/")};
        QTest::newRow("empty title takes the url") << QStringList{QStringLiteral("n.example"), QString()}
                                                   << QStringList{QStringLiteral("n.example|n.example")};
        QTest::newRow("cancelled url still asks the title") << QStringList{QString(), QStringLiteral("T")}
                                                             << QStringList{};
    }
    void addPrompts()
    {
        QFETCH(QStringList, answers);
        TempDataDir dir;
        DataManager data;
        BookmarksDialog dialog(&data);
        ModalDriver driver;
        for (const QString &answer : answers) {
            if (answer.isNull())
                driver.enqueueCancel();
            else
                driver.enqueueText(answer);
        }
        QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
        QVERIFY(driver.allAnswered());
        QCOMPARE(driver.seen().size(), 2);
        QCOMPARE(driver.seen().at(0).title, QStringLiteral("Add Bookmark"));
        QCOMPARE(driver.seen().at(0).label, QStringLiteral("URL:"));
        QCOMPARE(driver.seen().at(1).label, QStringLiteral("Title:"));
        QTEST(rows(dialog), "expectedRows");
        // Written through at once.
        DataManager reloaded;
        QCOMPARE(reloaded.getBookmarks(), data.getBookmarks());
    }

    void editReplacesAndMovesToTop()
    {
        TempDataDir dir;
        DataManager data;
        data.addBookmark(QStringLiteral("https://a.example/"), QStringLiteral("A"));
        data.addBookmark(QStringLiteral("https://b.example/"), QStringLiteral("B"));
        BookmarksDialog dialog(&data);
        dialog.tree()->setCurrentItem(dialog.tree()->topLevelItem(1)); // A

        ModalDriver driver;
        driver.enqueueText(QStringLiteral("https://a2.example/"));
        driver.enqueueText(QString());
        QTest::mouseClick(dialog.editButton(), Qt::LeftButton);
        QCOMPARE(driver.seen().size(), 2);
        QCOMPARE(driver.seen().at(0).title, QStringLiteral("Edit Bookmark"));
        QCOMPARE(driver.seen().at(0).initialText, QStringLiteral("https://a.example/"));
        QCOMPARE(driver.seen().at(1).initialText, QStringLiteral("A"));
        QCOMPARE(rows(dialog), (QStringList{QStringLiteral("https://a2.example/|https://a2.example/"),
                                            QStringLiteral("B|https://b.example/")}));
        QCOMPARE(storedUrls(data), (QStringList{QStringLiteral("https://a2.example/"), QStringLiteral("https://b.example/")}));

        // An emptied URL changes nothing.
        dialog.tree()->setCurrentItem(dialog.tree()->topLevelItem(1));
        driver.enqueueText(QString());
        driver.enqueueText(QStringLiteral("ignored"));
        QTest::mouseClick(dialog.editButton(), Qt::LeftButton);
        QVERIFY(driver.allAnswered());
        QCOMPARE(rows(dialog).size(), 2);
        QCOMPARE(storedUrls(data).last(), QStringLiteral("https://b.example/"));
    }

    void deleteAsksFirst_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("remaining");
        QTest::newRow("yes") << int(QMessageBox::Yes) << QStringList{QStringLiteral("https://b.example/")};
        QTest::newRow("no") << int(QMessageBox::No)
                            << QStringList{QStringLiteral("https://b.example/"), QStringLiteral("https://a.example/")};
    }
    void deleteAsksFirst()
    {
        QFETCH(int, answer);
        TempDataDir dir;
        DataManager data;
        data.addBookmark(QStringLiteral("https://a.example/"), QStringLiteral("A"));
        data.addBookmark(QStringLiteral("https://b.example/"), QStringLiteral("B"));
        BookmarksDialog dialog(&data);
        dialog.tree()->setCurrentItem(dialog.tree()->topLevelItem(1));
        ModalDriver driver;
        driver.enqueueButton(QMessageBox::StandardButton(answer));
        QTest::mouseClick(dialog.deleteButton(), Qt::LeftButton);
        QCOMPARE(driver.seen().size(), 1);
        QCOMPARE(driver.seen().first().title, QStringLiteral("Delete Bookmark"));
        QCOMPARE(driver.seen().first().label, QStringLiteral("Are you sure you want to delete this bookmark?"));
        QTEST(storedUrls(data), "remaining");
        QCOMPARE(dialog.tree()->topLevelItemCount(), storedUrls(data).size());
    }

    void searchFiltersRowsAndFolders()
    {
        TempDataDir dir;
        DataManager data;
        data.addBookmark(QStringLiteral("https://docs.qt.io/"), QStringLiteral("Qt Documentation"));
        data.addBookmark(QStringLiteral("https://news.example/qt"), QStringLiteral("News"));
        data.addBookmark(QStringLiteral("https://mail.example/"), QStringLiteral("Mail"));
        BookmarksDialog dialog(&data);
        ModalDriver driver;
        driver.enqueueText(QStringLiteral("Work"));
        QTest::mouseClick(dialog.addFolderButton(), Qt::LeftButton);
        QCOMPARE(driver.seen().first().label, QStringLiteral("Folder Name:"));
        QCOMPARE(rows(dialog, true).size(), 4);

        QTest::keyClicks(dialog.searchField(), QStringLiteral("QT"));
        QCOMPARE(rows(dialog, true), (QStringList{QStringLiteral("News|https://news.example/qt"),
                                                  QStringLiteral("Qt Documentation|https://docs.qt.io/")}));
        dialog.searchField()->setText(QStringLiteral("nothing"));
        QVERIFY(rows(dialog, true).isEmpty());
        dialog.searchField()->clear();
        QCOMPARE(rows(dialog, true).size(), 4);

        // A rebuild keeps the filter and drops the unsaved folder.
        dialog.searchField()->setText(QStringLiteral("mail"));
        driver.enqueueText(QStringLiteral("https://mail2.example/"));
        driver.enqueueText(QStringLiteral("Other"));
        QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
        QCOMPARE(dialog.tree()->topLevelItemCount(), 4);
        QCOMPARE(rows(dialog, true), (QStringList{QStringLiteral("Other|https://mail2.example/"),
                                                  QStringLiteral("Mail|https://mail.example/")}));
    }

    void doubleClickOpens()
    {
        TempDataDir dir;
        DataManager data;
        data.addBookmark(QStringLiteral("https://a.example/page"), QStringLiteral("A"));
        BookmarksDialog dialog(&data);
        ModalDriver driver;
        driver.enqueueText(QStringLiteral("Folder"));
        dialog.onAddFolder();
        QSignalSpy selected(&dialog, &BookmarksDialog::urlSelected);
        QSignalSpy accepted(&dialog, &QDialog::accepted);

        dialog.onItemDoubleClicked(dialog.tree()->topLevelItem(1), 0); // the folder
        QCOMPARE(selected.count(), 0);
        QCOMPARE(accepted.count(), 0);
        dialog.onItemDoubleClicked(dialog.tree()->topLevelItem(0), 1);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.first().first().toUrl(), QUrl(QStringLiteral("https://a.example/page")));
        QCOMPARE(accepted.count(), 1);
    }
};

QTEST_MAIN(TestBookmarksDialog)
#include "tst_bookmarksdialog.moc"
