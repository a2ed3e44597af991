#include "BookmarksDialog.h"
#include "DataManager.h"
#include "ModalDriver.h"
#include "TempDataDir.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

static QStringList visibleRows(BookmarksDialog &dialog)
{
    QStringList out;
    for (int i = 0; i < dialog.tree()->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = dialog.tree()->topLevelItem(i);
        if (!item->isHidden())
            out.append(item->text(0));
    }
    return out;
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

    // The filter survives the rebuild after an add, which is stored at once.
    void filterKeptAcrossRebuild()
    {
        TempDataDir dir;
        DataManager data;
        data.addBookmark(QStringLiteral("https://docs.qt.io/"), QStringLiteral("Qt Documentation"));
        data.addBookmark(QStringLiteral("https://mail.example/"), QStringLiteral("Mail"));
        BookmarksDialog dialog(&data);
        QTest::keyClicks(dialog.searchField(), QStringLiteral("MAIL"));
        QCOMPARE(visibleRows(dialog), QStringList{QStringLiteral("Mail")});
        ModalDriver driver;
        driver.enqueueText(QStringLiteral("https://mail2.example/"));
        driver.enqueueText(QStringLiteral("Other"));
        QTest::mouseClick(dialog.addButton(), Qt::LeftButton);
        QCOMPARE(visibleRows(dialog), (QStringList{QStringLiteral("Other"), QStringLiteral("Mail")}));
        DataManager reloaded;
        QCOMPARE(BookmarksDialog(&reloaded).tree()->topLevelItemCount(), 3);
    }
};

QTEST_MAIN(TestBookmarksDialog)
#include "tst_bookmarksdialog.moc"
