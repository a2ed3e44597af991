#include "DataManager.h"
#include "HistoryDialog.h"
#include "ModalDriver.h"
#include "TempDataDir.h"

#include <QComboBox>
#include <QDateEdit>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

// history.json, newest first; the title is the host.
static void writeHistory(const TempDataDir &dir, const QList<QPair<QString, QDateTime>> &entries)
{
    QJsonArray array;
    for (const auto &e : entries) {
        array.append(QJsonObject{{QStringLiteral("url"), e.first},
                                 {QStringLiteral("title"), e.first.section(QLatin1Char('/'), 2, 2)},
                                 {QStringLiteral("timestamp"), e.second.toString(Qt::ISODate)}});
    }
    dir.writeFile(QStringLiteral("history.json"), QJsonDocument(array).toJson());
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
    void init()
    {
        QTest::failOnWarning(QRegularExpression(
            QStringLiteral("^(?!This plugin does not support propagateSizeHints\\(\\)$)")));
    }

    void dateRanges_data()
    {
        QTest::addColumn<QDate>("entry");
        QTest::addColumn<int>("range");
        QTest::addColumn<bool>("shown");
        const QDate ref(2025, 3, 12);
        QTest::newRow("all, no date") << QDate() << int(HistoryDialog::All) << true;
        QTest::newRow("today, no date") << QDate() << int(HistoryDialog::Today) << false;
        QTest::newRow("today, same day") << ref << int(HistoryDialog::Today) << true;
        QTest::newRow("today, day before") << ref.addDays(-1) << int(HistoryDialog::Today) << false;
        QTest::newRow("week, 7 days ago") << ref.addDays(-7) << int(HistoryDialog::ThisWeek) << true;
        QTest::newRow("week, 8 days ago") << ref.addDays(-8) << int(HistoryDialog::ThisWeek) << false;
        QTest::newRow("week, after the picked day") << ref.addDays(1) << int(HistoryDialog::ThisWeek) << false;
        QTest::newRow("month, first of month") << QDate(2025, 3, 1) << int(HistoryDialog::ThisMonth) << true;
        QTest::newRow("month, last of month") << QDate(2025, 3, 31) << int(HistoryDialog::ThisMonth) << true;
        QTest::newRow("month, previous month") << QDate(2025, 2, 28) << int(HistoryDialog::ThisMonth) << false;
        QTest::newRow("month, same month a year earlier") << QDate(2024, 3, 12) << int(HistoryDialog::ThisMonth) << false;
    }
    void dateRanges()
    {
        QFETCH(QDate, entry);
        QFETCH(int, range);
        QTEST(HistoryDialog::inRange(entry, HistoryDialog::Range(range), QDate(2025, 3, 12)), "shown");
    }

    void undatedEntryShownOnlyUnderAllAndDoubleClickOpens()
    {
        TempDataDir dir;
        dir.writeFile(QStringLiteral("history.json"),
                      "[{\"url\": \"https://a.example/p?q=1\", \"timestamp\": \"2025-03-01T14:05:09\"},"
                      " {\"url\": \"https://b.example/\", \"timestamp\": \"garbage\"}]");
        DataManager data;
        HistoryDialog dialog(&data);
        QCOMPARE(dialog.table()->item(0, 2)->text(), QStringLiteral("2025-03-01 14:05:09"));
        QCOMPARE(dialog.table()->item(1, 2)->text(), QString());
        QCOMPARE(visibleUrls(dialog).size(), 2);
        dialog.rangeBox()->setCurrentIndex(HistoryDialog::ThisMonth);
        dialog.datePicker()->setDate(QDate(2025, 3, 20));
        QCOMPARE(visibleUrls(dialog), QStringList{QStringLiteral("https://a.example/p?q=1")});

        QSignalSpy selected(&dialog, &HistoryDialog::urlSelected);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        dialog.onItemDoubleClicked(2, 0); // out of range
        dialog.onItemDoubleClicked(-1, 0);
        QCOMPARE(selected.count(), 0);
        dialog.onItemDoubleClicked(0, 2);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.first().first().toUrl(), QUrl(QStringLiteral("https://a.example/p?q=1")));
        QCOMPARE(accepted.count(), 1);
    }

    void textAndDateNarrowTogether()
    {
        TempDataDir dir;
        const QDateTime now = QDateTime::currentDateTime();
        writeHistory(dir, {{QStringLiteral("https://docs.example/today"), now},
                           {QStringLiteral("https://mail.example/today"), now},
                           {QStringLiteral("https://docs.example/old"), now.addDays(-3)},
                           {QStringLiteral("https://docs.example/older"), now.addDays(-40)}});
        DataManager data;
        HistoryDialog dialog(&data);
        QCOMPARE(dialog.datePicker()->date(), now.date());
        QCOMPARE(visibleUrls(dialog).size(), 4);

        dialog.rangeBox()->setCurrentIndex(HistoryDialog::Today);
        QCOMPARE(visibleUrls(dialog).size(), 2);
        // Typing keeps the date range in force.
        QTest::keyClicks(dialog.searchField(), QStringLiteral("DOCS"));
        QCOMPARE(visibleUrls(dialog), QStringList{QStringLiteral("https://docs.example/today")});
        dialog.rangeBox()->setCurrentIndex(HistoryDialog::ThisWeek);
        QCOMPARE(visibleUrls(dialog), (QStringList{QStringLiteral("https://docs.example/today"),
                                                   QStringLiteral("https://docs.example/old")}));
        // The picked date moves the window.
        dialog.datePicker()->setDate(now.date().addDays(-40));
        dialog.rangeBox()->setCurrentIndex(HistoryDialog::Today);
        QCOMPARE(visibleUrls(dialog), QStringList{QStringLiteral("https://docs.example/older")});
        dialog.rangeBox()->setCurrentIndex(HistoryDialog::All);
        QCOMPARE(visibleUrls(dialog).size(), 3);
    }

    // Rows selected (empty: "Clear All"), the answer, and what is left.
    void deleteAsksFirstAndPersists_data()
    {
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QList<int>>("remaining");
        const QList<int> all{0, 1, 2, 3, 4, 5};
        QTest::newRow("some, yes") << QList<int>{1, 3, 5} << int(QMessageBox::Yes) << QList<int>{0, 2, 4};
        QTest::newRow("some, no") << QList<int>{1, 3, 5} << int(QMessageBox::No) << all;
        QTest::newRow("every row") << all << int(QMessageBox::Yes) << QList<int>{};
        QTest::newRow("clear all, no") << QList<int>{} << int(QMessageBox::No) << all;
        QTest::newRow("clear all, yes") << QList<int>{} << int(QMessageBox::Yes) << QList<int>{};
    }
    void deleteAsksFirstAndPersists()
    {
        QFETCH(QList<int>, rows);
        QFETCH(int, answer);
        QFETCH(QList<int>, remaining);
        TempDataDir dir;
        QList<QPair<QString, QDateTime>> entries;
        for (int i = 0; i < 6; ++i)
            entries.append({QStringLiteral("https://u%1.example/").arg(i), QDateTime::currentDateTime().addSecs(-i)});
        writeHistory(dir, entries);
        QStringList expected;
        for (int i : remaining)
            expected.append(entries.at(i).first);
        DataManager data;
        HistoryDialog dialog(&data);
        // Several cells of each row are selected.
        auto *selection = dialog.table()->selectionModel();
        for (int row : rows) {
            selection->select(dialog.table()->model()->index(row, 0), QItemSelectionModel::Select);
            selection->select(dialog.table()->model()->index(row, 2), QItemSelectionModel::Select);
        }
        ModalDriver driver;
        driver.enqueueButton(QMessageBox::StandardButton(answer));
        QTest::mouseClick(rows.isEmpty() ? dialog.clearButton() : dialog.deleteButton(), Qt::LeftButton);
        QCOMPARE(driver.seen().size(), 1);
        QCOMPARE(visibleUrls(dialog), expected);
        DataManager reloaded;
        HistoryDialog reopened(&reloaded);
        QCOMPARE(visibleUrls(reopened), expected);
    }
};

QTEST_MAIN(TestHistoryDialog)
#include "tst_historydialog.moc"
