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

class TestHistoryDialog : public QObject
{
    Q_OBJECT

    // history.json with fixed time stamps, newest first.
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
    static QStringList storedUrls(const DataManager &data)
    {
        QStringList out;
        for (const QJsonValue &v : data.getHistory())
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

    void fillsTableFromStore()
    {
        TempDataDir dir;
        const QDateTime when(QDate(2025, 3, 1), QTime(14, 5, 9));
        writeHistory(dir, {{QStringLiteral("https://a.example/"), when}});
        dir.writeFile(QStringLiteral("history.json"),
                      dir.readFile(QStringLiteral("history.json")).replace("]", ", {\"url\": \"https://b.example/\", \"timestamp\": \"garbage\"}]"));
        DataManager data;
        HistoryDialog dialog(&data);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("History"));
        QCOMPARE(dialog.table()->rowCount(), 2);
        QCOMPARE(dialog.table()->item(0, 0)->text(), QStringLiteral("a.example"));
        QCOMPARE(dialog.table()->item(0, 2)->text(), QStringLiteral("2025-03-01 14:05:09"));
        QCOMPARE(dialog.table()->item(1, 0)->text(), QString());
        QCOMPARE(dialog.table()->item(1, 2)->text(), QString());
        QCOMPARE(dialog.datePicker()->date(), QDate::currentDate());
        QCOMPARE(dialog.rangeBox()->currentText(), QStringLiteral("All"));
        QVERIFY(!dialog.deleteButton()->isEnabled());
        dialog.table()->selectRow(1);
        QVERIFY(dialog.deleteButton()->isEnabled());

        // An undated entry passes only "All".
        dialog.rangeBox()->setCurrentIndex(HistoryDialog::ThisMonth);
        dialog.datePicker()->setDate(QDate(2025, 3, 20));
        QCOMPARE(visibleUrls(dialog), QStringList{QStringLiteral("https://a.example/")});
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
        QCOMPARE(visibleUrls(dialog).size(), 4);

        dialog.rangeBox()->setCurrentIndex(HistoryDialog::Today);
        QCOMPARE(visibleUrls(dialog), (QStringList{QStringLiteral("https://docs.example/today"),
                                                   QStringLiteral("https://mail.example/today")}));
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

    void deleteSelectedRemovesFromStore_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("remaining");
        QTest::newRow("yes") << int(QMessageBox::Yes)
                             << QStringList{QStringLiteral("https://u0.example/"), QStringLiteral("https://u2.example/"),
                                            QStringLiteral("https://u4.example/")};
        QTest::newRow("no") << int(QMessageBox::No)
                            << QStringList{QStringLiteral("https://u0.example/"), QStringLiteral("https://u1.example/"),
                                           QStringLiteral("https://u2.example/"), QStringLiteral("https://u3.example/"),
                                           QStringLiteral("https://u4.example/"), QStringLiteral("https://u5.example/")};
    }
    void deleteSelectedRemovesFromStore()
    {
        QFETCH(int, answer);
        QFETCH(QStringList, remaining);
        TempDataDir dir;
        QList<QPair<QString, QDateTime>> entries;
        for (int i = 0; i < 6; ++i)
            entries.append({QStringLiteral("https://u%1.example/").arg(i), QDateTime::currentDateTime().addSecs(-i)});
        writeHistory(dir, entries);
        DataManager data;
        HistoryDialog dialog(&data);
        // Rows 1, 3 and 5, several cells of each.
        auto *selection = dialog.table()->selectionModel();
        for (int row : {1, 3, 5}) {
            selection->select(dialog.table()->model()->index(row, 0), QItemSelectionModel::Select);
            selection->select(dialog.table()->model()->index(row, 2), QItemSelectionModel::Select);
        }
        dialog.table()->setCurrentCell(5, 2, QItemSelectionModel::Select);
        ModalDriver driver;
        driver.enqueueButton(QMessageBox::StandardButton(answer));
        QTest::mouseClick(dialog.deleteButton(), Qt::LeftButton);
        QCOMPARE(driver.seen().size(), 1);
        QCOMPARE(driver.seen().first().title, QStringLiteral("Delete History"));
        QCOMPARE(driver.seen().first().label, QStringLiteral("Are you sure you want to delete selected history entries?"));
        QCOMPARE(visibleUrls(dialog), remaining);
        QCOMPARE(storedUrls(data), remaining);
        // Persisted: a new store and a new dialog see the same.
        DataManager reloaded;
        QCOMPARE(storedUrls(reloaded), remaining);
        HistoryDialog reopened(&reloaded);
        QCOMPARE(visibleUrls(reopened), remaining);
    }

    void deletingEveryRowEmptiesTheStore()
    {
        TempDataDir dir;
        writeHistory(dir, {{QStringLiteral("https://a.example/"), QDateTime::currentDateTime()},
                           {QStringLiteral("https://b.example/"), QDateTime::currentDateTime()}});
        DataManager data;
        HistoryDialog dialog(&data);
        dialog.table()->selectAll();
        ModalDriver driver;
        driver.enqueueButton(QMessageBox::Yes);
        dialog.onDeleteSelected();
        QCOMPARE(dialog.table()->rowCount(), 0);
        QCOMPARE(DataManager().getHistory(), QJsonArray());
    }

    void clearAllAsksFirst()
    {
        TempDataDir dir;
        writeHistory(dir, {{QStringLiteral("https://a.example/"), QDateTime::currentDateTime()}});
        DataManager data;
        HistoryDialog dialog(&data);
        ModalDriver driver;
        driver.enqueueButton(QMessageBox::No);
        QTest::mouseClick(dialog.clearButton(), Qt::LeftButton);
        QCOMPARE(driver.seen().last().title, QStringLiteral("Clear All History"));
        QCOMPARE(driver.seen().last().label, QStringLiteral("Are you sure you want to clear all history?"));
        QCOMPARE(dialog.table()->rowCount(), 1);
        driver.enqueueButton(QMessageBox::Yes);
        QTest::mouseClick(dialog.clearButton(), Qt::LeftButton);
        QCOMPARE(dialog.table()->rowCount(), 0);
        QCOMPARE(DataManager().getHistory(), QJsonArray());
        QVERIFY(!dialog.deleteButton()->isEnabled());
    }

    void doubleClickOpens()
    {
        TempDataDir dir;
        writeHistory(dir, {{QStringLiteral("https://a.example/p?q=1"), QDateTime::currentDateTime()}});
        DataManager data;
        HistoryDialog dialog(&data);
        QSignalSpy selected(&dialog, &HistoryDialog::urlSelected);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        dialog.onItemDoubleClicked(1, 0);
        dialog.onItemDoubleClicked(-1, 0);
        QCOMPARE(selected.count(), 0);
        dialog.onItemDoubleClicked(0, 2);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.first().first().toUrl(), QUrl(QStringLiteral("https://a.example/p?q=1")));
        QCOMPARE(accepted.count(), 1);
    }
};

QTEST_MAIN(TestHistoryDialog)
#include "tst_historydialog.moc"
