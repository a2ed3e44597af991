#include "DownloadDialog.h"

#include "DownloadItem.h"
#include "DownloadManager.h"
#include "RecordTable.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const QString kDash = QStringLiteral("\u2014");
}

DownloadDialog::DownloadDialog(DownloadManager *manager, QWidget *parent)
    : QDialog(parent)
    , m_manager(manager)
    , m_openUrl([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    setupUI();
    if (!m_manager)
        return;
    const QList<DownloadItem *> items = m_manager->downloads();
    for (DownloadItem *item : items) {
        if (item)
            onDownloadAdded(item);
    }
    connect(m_manager, &DownloadManager::downloadAdded, this, &DownloadDialog::onDownloadAdded);
    connect(m_manager, &DownloadManager::downloadFinished, this, &DownloadDialog::onDownloadFinished);
}

void DownloadDialog::setupUI()
{
    setWindowTitle(QStringLiteral("Downloads"));
    setMinimumSize(700, 500);
    auto *layout = new QVBoxLayout(this);

    m_table = RecordTable::create({QStringLiteral("File"), QStringLiteral("Progress"), QStringLiteral("Speed"),
                                   QStringLiteral("Status"), QStringLiteral("Actions")},
                                  QAbstractItemView::SingleSelection, this);
    layout->addWidget(m_table);

    auto *buttons = new QHBoxLayout;
    m_pauseButton = new QPushButton(QStringLiteral("Pause"), this);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_openFolderButton = new QPushButton(QStringLiteral("Open Folder"), this);
    m_clearHistoryButton = new QPushButton(QStringLiteral("Clear History"), this);
    m_closeButton = new QPushButton(QStringLiteral("Close"), this);
    m_pauseButton->setEnabled(false);
    m_cancelButton->setEnabled(false);
    buttons->addWidget(m_pauseButton);
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_openFolderButton);
    buttons->addStretch();
    buttons->addWidget(m_clearHistoryButton);
    buttons->addWidget(m_closeButton);
    layout->addLayout(buttons);

    connect(m_pauseButton, &QPushButton::clicked, this, &DownloadDialog::onPauseResume);
    connect(m_cancelButton, &QPushButton::clicked, this, &DownloadDialog::onCancel);
    connect(m_openFolderButton, &QPushButton::clicked, this, &DownloadDialog::onOpenFolder);
    connect(m_clearHistoryButton, &QPushButton::clicked, this, &DownloadDialog::onClearHistory);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &DownloadDialog::updateButtons);
    connect(m_table, &QTableWidget::cellClicked, this, &DownloadDialog::onActionClick);
}

QString DownloadDialog::speedText(qint64 s)
{
    if (s <= 0)
        return kDash;
    if (s < 1024)
        return QStringLiteral("%1 B/s").arg(s);
    if (s < 1048576)
        return QStringLiteral("%1 KB/s").arg(double(s) / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 MB/s").arg(double(s) / 1048576.0, 0, 'f', 1);
}

QString DownloadDialog::statusText(const DownloadItem *item)
{
    if (item->isFinished()) {
        switch (item->endState()) {
        case DownloadItem::EndState::Cancelled:
            return QStringLiteral("Cancelled");
        case DownloadItem::EndState::Failed:
            return QStringLiteral("Failed");
        default:
            return QStringLiteral("Completed");
        }
    }
    return item->isPaused() ? QStringLiteral("Paused") : QStringLiteral("Downloading...");
}

void DownloadDialog::onDownloadAdded(DownloadItem *item)
{
    if (!item || m_rows.contains(item))
        return;
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    m_rows.insert(item, row);
    m_table->setItem(row, 0, new QTableWidgetItem(item->filename()));
    auto *bar = new QProgressBar;
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(true);
    bar->setStyleSheet(QStringLiteral(
        "QProgressBar { border: 1px solid #404040; border-radius: 4px; text-align: center; }"
        "QProgressBar::chunk { background: #0078d4; }"));
    m_table->setCellWidget(row, 1, bar);
    m_table->setItem(row, 2, new QTableWidgetItem(kDash));
    m_table->setItem(row, 3, new QTableWidgetItem(QStringLiteral("Downloading...")));
    m_table->setItem(row, 4, new QTableWidgetItem(QString()));
    connect(item, &DownloadItem::progressChanged, this, &DownloadDialog::onDownloadProgress);
    // A dying item must not leave a dangling key behind.
    connect(item, &QObject::destroyed, this, [this, item] { m_rows.remove(item); });
    updateDownloadRow(row, item);
}

void DownloadDialog::onDownloadFinished(DownloadItem *item)
{
    const int row = findDownloadRow(item);
    if (row < 0)
        return;
    updateDownloadRow(row, item);
}

void DownloadDialog::onDownloadProgress()
{
    auto *item = qobject_cast<DownloadItem *>(sender());
    if (!item)
        return;
    const int row = findDownloadRow(item);
    if (row >= 0)
        updateDownloadRow(row, item);
}

void DownloadDialog::updateDownloadRow(int row, DownloadItem *item)
{
    if (row < 0 || row >= m_table->rowCount() || !item)
        return;
    const int percent = int(item->progress() * 100.0);
    if (auto *bar = qobject_cast<QProgressBar *>(m_table->cellWidget(row, 1))) {
        bar->setValue(qBound(0, percent, 100));
        bar->setFormat(QStringLiteral("%1%").arg(percent));
    }
    if (QTableWidgetItem *cell = m_table->item(row, 2))
        cell->setText(item->isFinished() ? kDash : speedText(item->speed()));
    if (QTableWidgetItem *cell = m_table->item(row, 3))
        cell->setText(statusText(item));
    if (QTableWidgetItem *cell = m_table->item(row, 4)) {
        // Only a completed download has a file worth opening.
        const bool openable = item->isFinished() && item->endState() == DownloadItem::EndState::Completed;
        cell->setText(openable ? QStringLiteral("Open \u2197") : QString());
        if (openable)
            cell->setForeground(QColor(0x00, 0xf7, 0xff));
    }
    if (row == m_table->currentRow())
        updateButtons();
}

int DownloadDialog::findDownloadRow(DownloadItem *item) const
{
    return m_rows.value(item, -1);
}

DownloadItem *DownloadDialog::itemAtRow(int row) const
{
    if (row < 0)
        return nullptr;
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        if (it.value() == row)
            return it.key();
    }
    return nullptr;
}

DownloadItem *DownloadDialog::selectedItem() const
{
    if (m_table->selectedItems().isEmpty())
        return nullptr;
    return itemAtRow(m_table->currentRow());
}

// Pause and Cancel only make sense for a selected download that still runs;
// the caption follows that download's own state.
void DownloadDialog::updateButtons()
{
    DownloadItem *item = selectedItem();
    const bool running = item && !item->isFinished();
    m_pauseButton->setEnabled(running);
    m_cancelButton->setEnabled(running);
    if (item)
        m_pauseButton->setText(item->isPaused() ? QStringLiteral("Resume") : QStringLiteral("Pause"));
}

void DownloadDialog::onPauseResume()
{
    DownloadItem *item = selectedItem();
    if (!item)
        return;
    if (item->isPaused()) {
        item->resume();
        m_pauseButton->setText(QStringLiteral("Pause"));
    } else {
        item->pause();
        m_pauseButton->setText(QStringLiteral("Resume"));
    }
    updateDownloadRow(findDownloadRow(item), item);
}

void DownloadDialog::onCancel()
{
    DownloadItem *item = selectedItem();
    if (!item || item->isFinished())
        return;
    item->cancel();
    const int row = findDownloadRow(item);
    if (QTableWidgetItem *cell = m_table->item(row, 3))
        cell->setText(QStringLiteral("Cancelled"));
    updateButtons();
}

void DownloadDialog::onOpenFolder()
{
    if (m_manager)
        m_openUrl(QUrl::fromLocalFile(m_manager->defaultDownloadPath()));
}

void DownloadDialog::onClearHistory()
{
    const auto answer = QMessageBox::question(this, QStringLiteral("Clear History"),
                                              QStringLiteral("Are you sure you want to clear download history?"),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes && m_manager)
        m_manager->clearHistory();
}

void DownloadDialog::onActionClick(int row, int column)
{
    if (column != 4)
        return;
    DownloadItem *item = itemAtRow(row);
    if (item && item->isFinished() && item->endState() == DownloadItem::EndState::Completed)
        m_openUrl(QUrl::fromLocalFile(item->path()));
}
