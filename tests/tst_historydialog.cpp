#include "DataManager.h"
#include "HistoryDialog.h"
#include "ModalAnswerer.h"
#include "TempDataDir.h"

#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

// history.json with one visit per address, newest first; entry i is i days older than `newest`.
static void writeHistory(const TempDataDir &dir, const QStringList &urls, const QList<int> &daysOld = {})
{
    QJsonArray array;
    for (int i = 0; i < urls.size(); ++i) {
        const QDateTime when = QDateTime::currentDateTime().addSecs(-i).addDays(-daysOld.value(i));
        array.append(QJsonObject{{u"url"_s, urls.at(i)}, {u"timestamp"_s, when.toString(Qt::ISODate)}});
    }
    dir.writeFile(u"history.json"_s, QJsonDocument(array).toJson());
}

static QStringList visibleUrls(HistoryDialog &dialog)
{
    QStringList out;
    for (int row = 0; row < dialog.table()->rowCount(); ++row) {
        if (!dialog.table()->isRowHidden(row))
            out.append(dialog.table()->item(row, 1)->text());
    }
    return out;
}

class TestHistoryDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The offscreen platform notes each modal box it shows.
    void init() { QTest::failOnWarning(QRegularExpression(u"^(?!This plugin does not support propagateSizeHints\\(\\)$)"_s)); }

    // Ranges end at the picked day (12 March 2025 here).
    void dateRanges_data()
    {
        QTest::addColumn<QDate>("entry");
        QTest::addColumn<int>("range");
        QTest::addColumn<bool>("shown");
        const QDate ref(2025, 3, 12);
        QTest::newRow("all, no date") << QDate() << int(HistoryDialog::All) << true;
        QTest::newRow("today, no date") << QDate() << int(HistoryDialog::Today) << false;
        QTest::newRow("week, 7 days ago") << ref.addDays(-7) << int(HistoryDialog::ThisWeek) << true;
        QTest::newRow("week, 8 days ago") << ref.addDays(-8) << int(HistoryDialog::ThisWeek) << false;
        QTest::newRow("week, after the picked day") << ref.addDays(1) << int(HistoryDialog::ThisWeek) << false;
        QTest::newRow("month, same month a year earlier") << QDate(2024, 3, 12) << int(HistoryDialog::ThisMonth) << false;
    }
    void dateRanges()
    {
        QFETCH(QDate, entry);
        QFETCH(int, range);
        QTEST(HistoryDialog::inRange(entry, HistoryDialog::Range(range), QDate(2025, 3, 12)), "shown");
    }

    void textAndDateNarrowTogether()
    {
        TempDataDir dir;
        writeHistory(dir, {"https://docs.example/today", "https://mail.example/today", "https://docs.example/old"}, {0, 0, 40});
        DataManager data;
        HistoryDialog dialog(&data);
        dialog.rangeBox()->setCurrentIndex(HistoryDialog::Today);
        QTest::keyClicks(dialog.searchField(), u"DOCS"_s);
        QCOMPARE(visibleUrls(dialog), QStringList{"https://docs.example/today"});
        dialog.datePicker()->setDate(QDate::currentDate().addDays(-40));
        QCOMPARE(visibleUrls(dialog), QStringList{"https://docs.example/old"});
    }

    // Rows selected (none: "Clear All"), the answer, and what is left, also on disk.
    void deleteAsksFirstAndPersists_data()
    {
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QList<int>>("remaining");
        const QList<int> all{0, 1, 2, 3};
        QTest::newRow("some, yes") << QList<int>{1, 3} << "Yes" << QList<int>{0, 2};
        QTest::newRow("some, no") << QList<int>{1, 3} << "No" << all;
        QTest::newRow("clear all, no") << QList<int>{} << "No" << all;
        QTest::newRow("clear all, yes") << QList<int>{} << "Yes" << QList<int>{};
    }
    void deleteAsksFirstAndPersists()
    {
        QFETCH(QList<int>, rows);
        QFETCH(QString, answer);
        QFETCH(QList<int>, remaining);
        TempDataDir dir;
        QStringList urls, expected;
        for (int i = 0; i < 4; ++i)
            urls << u"https://u%1.example/"_s.arg(i);
        for (int i : remaining)
            expected << urls.at(i);
        writeHistory(dir, urls);
        DataManager data;
        HistoryDialog dialog(&data);
        // Several cells of each row are selected.
        for (int row : rows) {
            for (int column : {0, 2})
                dialog.table()->selectionModel()->select(dialog.table()->model()->index(row, column), QItemSelectionModel::Select);
        }
        ModalAnswerer question({answer});
        QTest::mouseClick(rows.isEmpty() ? dialog.clearButton() : dialog.deleteButton(), Qt::LeftButton);
        QCOMPARE(question.seen().size(), 1);
        QCOMPARE(visibleUrls(dialog), expected);
        DataManager reloaded;
        HistoryDialog reopened(&reloaded);
        QCOMPARE(visibleUrls(reopened), expected);
    }
};

QTEST_MAIN(TestHistoryDialog)
#include "tst_historydialog.moc"
