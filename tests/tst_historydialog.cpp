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

// history.json, newest first.
static void writeHistory(const TempDataDir &dir, const QList<QPair<QString, QDateTime>> &entries)
{
    QJsonArray array;
    for (const auto &e : entries)
        array.append(QJsonObject{{QStringLiteral("url"), e.first}, {QStringLiteral("timestamp"), e.second.toString(Qt::ISODate)}});
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
        const QDateTime now = QDateTime::currentDateTime();
        writeHistory(dir, {{QStringLiteral("https://docs.example/today"), now},
                           {QStringLiteral("https://mail.example/today"), now},
                           {QStringLiteral("https://docs.example/old"), now.addDays(-40)}});
        DataManager data;
        HistoryDialog dialog(&data);
        dialog.rangeBox()->setCurrentIndex(HistoryDialog::Today);
        QTest::keyClicks(dialog.searchField(), QStringLiteral("DOCS"));
        QCOMPARE(visibleUrls(dialog), QStringList{QStringLiteral("https://docs.example/today")});
        dialog.datePicker()->setDate(now.date().addDays(-40));
        QCOMPARE(visibleUrls(dialog), QStringList{QStringLiteral("https://docs.example/old")});
    }

    // Rows selected (empty: "Clear All"), the answer, and what is left.
    void deleteAsksFirstAndPersists_data()
    {
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QList<int>>("remaining");
        const QList<int> all{0, 1, 2, 3};
        QTest::newRow("some, yes") << QList<int>{1, 3} << int(QMessageBox::Yes) << QList<int>{0, 2};
        QTest::newRow("some, no") << QList<int>{1, 3} << int(QMessageBox::No) << all;
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
        for (int i = 0; i < 4; ++i)
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
