#include "FilterListsPanel.h"

#include "ContentBlocker.h"
#include "FilterListManager.h"
#include "PlainMessageBox.h"
#include "SiteProtection.h"

#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// Checking My filters parses every line: not on each keystroke.
constexpr int CheckDelayMs = 300;
// More error lines than this are summed up.
constexpr int MaxErrorLines = 20;

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}
}

FilterListsPanel::FilterListsPanel(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto *listsGroup = new QGroupBox(tr("Filter lists"), this);
    auto *listsLayout = new QVBoxLayout(listsGroup);
    m_table = new QTableWidget(0, 4, listsGroup);
    m_table->setObjectName(QStringLiteral("filterListTable"));
    m_table->setHorizontalHeaderLabels({tr("List"), tr("Rules"), tr("Last update"), tr("Status")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setMinimumHeight(110);
    listsLayout->addWidget(m_table);
    auto *buttons = new QHBoxLayout;
    m_add = new QPushButton(tr("Add…"), listsGroup);
    m_remove = new QPushButton(tr("Remove"), listsGroup);
    m_update = new QPushButton(tr("Update now"), listsGroup);
    buttons->addWidget(m_add);
    buttons->addWidget(m_remove);
    buttons->addWidget(m_update);
    buttons->addStretch();
    listsLayout->addLayout(buttons);
    m_tunnelNote = plainLabel(tr("Lists are downloaded only while the VPN tunnel is up."), listsGroup);
    listsLayout->addWidget(m_tunnelNote);
    layout->addWidget(listsGroup);

    auto *mineGroup = new QGroupBox(tr("My filters"), this);
    auto *mineLayout = new QVBoxLayout(mineGroup);
    mineLayout->addWidget(plainLabel(tr("Your own rules, in the syntax of the lists (one per line); saved with "
                                        "the settings."),
                                     mineGroup));
    m_myFilters = new QPlainTextEdit(mineGroup);
    m_myFilters->setObjectName(QStringLiteral("myFilters"));
    m_myFilters->setPlaceholderText(QStringLiteral("||ads.example^\nexample.com##.sponsored"));
    m_myFilters->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_myFilters->setMinimumHeight(90);
    mineLayout->addWidget(m_myFilters);
    // Plain text: the messages quote the user's lines.
    m_errors = plainLabel(QString(), mineGroup);
    m_errors->setObjectName(QStringLiteral("myFiltersErrors"));
    m_errors->setStyleSheet(QStringLiteral("color: #ff6b6b;"));
    m_errors->hide();
    mineLayout->addWidget(m_errors);
    layout->addWidget(mineGroup);

    auto *sitesGroup = new QGroupBox(tr("Sites without protection"), this);
    auto *sitesLayout = new QVBoxLayout(sitesGroup);
    m_sites = new QListWidget(sitesGroup);
    m_sites->setObjectName(QStringLiteral("unprotectedSites"));
    m_sites->setMaximumHeight(100);
    sitesLayout->addWidget(m_sites);
    auto *siteButtons = new QHBoxLayout;
    m_removeSite = new QPushButton(tr("Protect again"), sitesGroup);
    siteButtons->addWidget(m_removeSite);
    siteButtons->addStretch();
    sitesLayout->addLayout(siteButtons);
    sitesLayout->addWidget(plainLabel(tr("Turned off with the shield in the toolbar (\"Protection on this site\"): "
                                         "nothing is blocked or hidden there."),
                                      sitesGroup));
    layout->addWidget(sitesGroup);

    m_checkTimer = new QTimer(this);
    m_checkTimer->setSingleShot(true);
    m_checkTimer->setInterval(CheckDelayMs);
    connect(m_checkTimer, &QTimer::timeout, this, &FilterListsPanel::checkMyFilters);
    connect(m_myFilters, &QPlainTextEdit::textChanged, m_checkTimer, qOverload<>(&QTimer::start));
    connect(m_add, &QPushButton::clicked, this, &FilterListsPanel::onAdd);
    connect(m_remove, &QPushButton::clicked, this, &FilterListsPanel::onRemove);
    connect(m_update, &QPushButton::clicked, this, [this] {
        if (m_blocker)
            m_blocker->lists()->updateNow();
    });
    connect(m_removeSite, &QPushButton::clicked, this, [this] {
        const QListWidgetItem *item = m_sites->currentItem();
        if (m_blocker && item)
            m_blocker->siteProtection()->setProtected(item->text(), true);
    });
    setEnabled(false);
}

void FilterListsPanel::setContentBlocker(ContentBlocker *blocker)
{
    if (m_blocker)
        disconnect(m_blocker, nullptr, this, nullptr);
    m_blocker = blocker;
    setEnabled(blocker);
    if (!blocker)
        return;
    connect(blocker->lists(), &FilterListManager::listsChanged, this, &FilterListsPanel::refreshLists);
    connect(blocker->siteProtection(), &SiteProtection::changed, this, &FilterListsPanel::refreshSites);
    connect(blocker, &QObject::destroyed, this, [this] { setContentBlocker(nullptr); });
    m_myFilters->setPlainText(blocker->lists()->userRules());
    checkMyFilters();
    refreshLists();
    refreshSites();
}

void FilterListsPanel::save()
{
    if (!m_blocker)
        return;
    m_checkTimer->stop();
    m_blocker->lists()->setUserRules(m_myFilters->toPlainText());
    checkMyFilters();
}

QString FilterListsPanel::lastUpdateText(const QDateTime &lastUpdate, bool fromSnapshot)
{
    if (!lastUpdate.isValid())
        return fromSnapshot ? tr("Shipped with the browser") : tr("Never");
    return QLocale().toString(lastUpdate.toLocalTime(), QLocale::ShortFormat);
}

QString FilterListsPanel::errorText(const QString &rules)
{
    const QList<FilterListManager::LineError> errors = FilterListManager::checkRules(rules);
    QStringList lines;
    for (const FilterListManager::LineError &error : errors) {
        if (lines.size() == MaxErrorLines) {
            lines << tr("… and %n more", nullptr, int(errors.size()) - MaxErrorLines);
            break;
        }
        lines << tr("Line %1: %2").arg(error.line).arg(error.message);
    }
    return lines.join(QLatin1Char('\n'));
}

void FilterListsPanel::checkMyFilters()
{
    const QString text = errorText(m_myFilters->toPlainText());
    m_errors->setText(text);
    m_errors->setVisible(!text.isEmpty());
}

void FilterListsPanel::refreshLists()
{
    if (!m_blocker)
        return;
    const QList<FilterListManager::List> lists = m_blocker->lists()->lists();
    const int selected = m_table->currentRow();
    m_table->setRowCount(int(lists.size()));
    for (int row = 0; row < lists.size(); ++row) {
        const FilterListManager::List &list = lists.at(row);
        const QString status = list.updating ? tr("Updating…")
            : list.lastError.isEmpty()      ? tr("OK")
                                            : list.lastError;
        const QString cells[] = {list.title, QLocale().toString(list.ruleCount), lastUpdateText(list.lastUpdate, list.fromSnapshot), status};
        for (int column = 0; column < 4; ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            // The address names the list; where it comes from shows on hover.
            item->setToolTip(column == 0 ? list.url.toDisplayString() : cells[column]);
            item->setData(Qt::UserRole, list.url);
            m_table->setItem(row, column, item);
        }
    }
    m_table->resizeColumnsToContents();
    if (selected >= 0 && selected < m_table->rowCount())
        m_table->selectRow(selected);
    m_tunnelNote->setText(m_blocker->lists()->isTunnelUp()
                              ? tr("Lists are downloaded only while the VPN tunnel is up; it is up now.")
                              : tr("Lists are downloaded only while the VPN tunnel is up; it is down now."));
}

void FilterListsPanel::refreshSites()
{
    if (!m_blocker)
        return;
    m_sites->clear();
    m_sites->addItems(m_blocker->siteProtection()->unprotectedSites());
    m_removeSite->setEnabled(m_sites->count() > 0);
}

void FilterListsPanel::onAdd()
{
    if (!m_blocker)
        return;
    const QString text =
        QInputDialog::getText(this, tr("Add filter list"), tr("Address of the list (https://…):")).trimmed();
    if (text.isEmpty())
        return;
    QString error;
    if (!m_blocker->lists()->addList(QUrl(text, QUrl::StrictMode), &error))
        PlainMessageBox::warning(this, tr("Add filter list"), error);
}

void FilterListsPanel::onRemove()
{
    const QTableWidgetItem *item = m_blocker ? m_table->item(m_table->currentRow(), 0) : nullptr;
    if (item)
        m_blocker->lists()->removeList(item->data(Qt::UserRole).toUrl());
}
