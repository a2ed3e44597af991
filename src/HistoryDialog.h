#pragma once

#include <QDate>
#include <QDialog>

class DataManager;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QUrl;

// The browsing history as a table: filter by text and by a date range,
// delete entries (from the store too), clear all, open one by double-click.
class HistoryDialog : public QDialog
{
    Q_OBJECT
public:
    enum Range { All = 0, Today = 1, ThisWeek = 2, ThisMonth = 3 };

    explicit HistoryDialog(DataManager *dataManager, QWidget *parent = nullptr);

    QTableWidget *table() const { return m_table; }
    QLineEdit *searchField() const { return m_search; }
    QDateEdit *datePicker() const { return m_datePicker; }
    QComboBox *rangeBox() const { return m_range; }
    QPushButton *deleteButton() const { return m_deleteButton; }
    QPushButton *clearButton() const { return m_clearButton; }

    // Ranges end on the reference day (the picked date): that day, the eight
    // days up to it, or its calendar month. A missing date only passes All.
    static bool inRange(const QDate &entry, Range range, const QDate &reference);
    // Case-insensitive substring of title or URL; an empty text matches all.
    static bool matchesText(const QString &title, const QString &url, const QString &text);

Q_SIGNALS:
    void urlSelected(const QUrl &url);

public Q_SLOTS:
    void onSearchHistory(const QString &text);
    void onFilterByDate();
    void onDeleteSelected();
    void onClearAll();
    void onItemDoubleClicked(int row, int column);

private:
    void setupUI();
    void loadHistory();
    void updateTable();
    void applyFilters();

    DataManager *m_data = nullptr;
    QTableWidget *m_table = nullptr;
    QLineEdit *m_search = nullptr;
    QDateEdit *m_datePicker = nullptr;
    QComboBox *m_range = nullptr;
    QPushButton *m_deleteButton = nullptr;
    QPushButton *m_clearButton = nullptr;
};
