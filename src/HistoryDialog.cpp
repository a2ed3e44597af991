#include "HistoryDialog.h"

#include "DataManager.h"
#include "RecordTable.h"
#include "Theme.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const QString kDateFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
}

HistoryDialog::HistoryDialog(DataManager *dataManager, QWidget *parent)
    : QDialog(parent)
    , m_data(dataManager)
{
    setWindowTitle(QStringLiteral("History"));
    setStyleSheet(Theme::dialogStyleSheet());
    setMinimumSize(800, 600);
    setupUI();
    loadHistory();
}

void HistoryDialog::setupUI()
{
    auto *layout = new QVBoxLayout(this);

    auto *filters = new QHBoxLayout;
    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(QStringLiteral("Search history..."));
    m_search->setStyleSheet(Theme::filterFieldStyleSheet());
    filters->addWidget(m_search);
    filters->addWidget(new QLabel(QStringLiteral("Date:"), this));
    m_datePicker = new QDateEdit(QDate::currentDate(), this);
    m_datePicker->setCalendarPopup(true);
    filters->addWidget(m_datePicker);
    m_range = new QComboBox(this);
    m_range->addItems({QStringLiteral("All"), QStringLiteral("Today"), QStringLiteral("This Week"),
                       QStringLiteral("This Month")});
    m_range->setCurrentIndex(All);
    filters->addWidget(m_range);
    layout->addLayout(filters);

    m_table = RecordTable::create({QStringLiteral("Title"), QStringLiteral("URL"), QStringLiteral("Date")},
                                  QAbstractItemView::ExtendedSelection, this);
    layout->addWidget(m_table);

    auto *buttons = new QHBoxLayout;
    m_deleteButton = new QPushButton(QStringLiteral("🗑️ Delete Selected"), this);
    m_clearButton = new QPushButton(QStringLiteral("🗑️ Clear All"), this);
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    m_deleteButton->setEnabled(false);
    buttons->addWidget(m_deleteButton);
    buttons->addWidget(m_clearButton);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(m_search, &QLineEdit::textChanged, this, &HistoryDialog::onSearchHistory);
    connect(m_datePicker, &QDateEdit::dateChanged, this, &HistoryDialog::onFilterByDate);
    connect(m_range, &QComboBox::currentIndexChanged, this, &HistoryDialog::onFilterByDate);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, &HistoryDialog::onItemDoubleClicked);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, [this] {
        m_deleteButton->setEnabled(!m_table->selectedItems().isEmpty());
    });
    connect(m_deleteButton, &QPushButton::clicked, this, &HistoryDialog::onDeleteSelected);
    connect(m_clearButton, &QPushButton::clicked, this, &HistoryDialog::onClearAll);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void HistoryDialog::loadHistory()
{
    updateTable();
}

void HistoryDialog::updateTable()
{
    m_table->setRowCount(0);
    if (!m_data)
        return;
    const QJsonArray history = m_data->getHistory();
    for (const QJsonValue &value : history) {
        const QJsonObject entry = value.toObject();
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        m_table->setItem(row, 0, new QTableWidgetItem(entry.value(QStringLiteral("title")).toString()));
        m_table->setItem(row, 1, new QTableWidgetItem(entry.value(QStringLiteral("url")).toString()));
        const QDateTime when = QDateTime::fromString(entry.value(QStringLiteral("timestamp")).toString(), Qt::ISODate);
        m_table->setItem(row, 2, new QTableWidgetItem(when.isValid() ? when.toString(kDateFormat) : QString()));
    }
    applyFilters();
}

bool HistoryDialog::inRange(const QDate &entry, Range range, const QDate &reference)
{
    if (range == All)
        return true;
    if (!entry.isValid())
        return false;
    switch (range) {
    case Today:
        return entry == reference;
    case ThisWeek:
        return entry >= reference.addDays(-7) && entry <= reference;
    case ThisMonth:
        return entry.year() == reference.year() && entry.month() == reference.month();
    default:
        return true;
    }
}

bool HistoryDialog::matchesText(const QString &title, const QString &url, const QString &text)
{
    return text.isEmpty() || title.toLower().contains(text.toLower()) || url.toLower().contains(text.toLower());
}

// The text and the date range narrow the list together: a row shows only
// when it passes both.
void HistoryDialog::applyFilters()
{
    const QString text = m_search->text();
    const auto range = Range(qBound(0, m_range->currentIndex(), 3));
    const QDate reference = m_datePicker->date();
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const QString title = m_table->item(row, 0) ? m_table->item(row, 0)->text() : QString();
        const QString url = m_table->item(row, 1) ? m_table->item(row, 1)->text() : QString();
        const QString stamp = m_table->item(row, 2) ? m_table->item(row, 2)->text() : QString();
        const QDate date = QDateTime::fromString(stamp, kDateFormat).date();
        m_table->setRowHidden(row, !(matchesText(title, url, text) && inRange(date, range, reference)));
    }
}

void HistoryDialog::onSearchHistory(const QString &)
{
    applyFilters();
}

void HistoryDialog::onFilterByDate()
{
    applyFilters();
}

void HistoryDialog::onDeleteSelected()
{
    const QList<QTableWidgetItem *> selected = m_table->selectedItems();
    if (selected.isEmpty())
        return;
    const auto answer = QMessageBox::question(this, QStringLiteral("Delete History"),
                                              QStringLiteral("Are you sure you want to delete selected history entries?"),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    QSet<int> rows;
    for (QTableWidgetItem *item : selected)
        rows.insert(item->row());
    QStringList urls;
    for (int row : std::as_const(rows)) {
        if (QTableWidgetItem *cell = m_table->item(row, 1))
            urls.append(cell->text());
    }
    if (m_data) {
        // One write however many rows go.
        m_data->removeHistory(urls);
    }
    updateTable();
}

void HistoryDialog::onClearAll()
{
    const auto answer = QMessageBox::question(this, QStringLiteral("Clear All History"),
                                              QStringLiteral("Are you sure you want to clear all history?"),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    if (m_data)
        m_data->clearHistory();
    updateTable();
}

void HistoryDialog::onItemDoubleClicked(int row, int)
{
    if (row < 0 || row >= m_table->rowCount())
        return;
    const QString url = m_table->item(row, 1) ? m_table->item(row, 1)->text() : QString();
    if (url.isEmpty())
        return;
    emit urlSelected(QUrl(url));
    accept();
}
