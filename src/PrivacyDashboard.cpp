#include "PrivacyDashboard.h"

#include "PrivacyEngine.h"
#include "SiteProtection.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

PrivacyDashboard::PrivacyDashboard(PrivacyEngine *engine, QWidget *parent)
    : QDialog(parent)
    , engine(engine)
{
    setWindowTitle(tr("Privacy Dashboard"));
    setMinimumSize(700, 600);
    setupUI();
    updateStats();
    refreshTimer = new QTimer(this);
    connect(refreshTimer, &QTimer::timeout, this, &PrivacyDashboard::updateStats);
    refreshTimer->start(RefreshIntervalMs);
}

QString PrivacyDashboard::protectionText(const QString &name, bool on)
{
    return on ? QStringLiteral("✅ %1: ON").arg(name) : QStringLiteral("❌ %1: OFF").arg(name);
}

void PrivacyDashboard::setupUI()
{
    auto *layout = new QVBoxLayout(this);

    auto *title = new QLabel(QStringLiteral("👻 Privacy Dashboard"), this);
    QFont titleFont = title->font();
    titleFont.setPointSize(18);
    titleFont.setBold(true);
    title->setFont(titleFont);
    layout->addWidget(title);

    auto *statsGroup = new QGroupBox(tr("Privacy Statistics"), this);
    auto *grid = new QGridLayout(statsGroup);
    const QStringList captions{
        QStringLiteral("🚫 Ads Blocked:"),      QStringLiteral("🛡️ Trackers Blocked:"),
        QStringLiteral("🍪 Cookies Blocked:"),  QStringLiteral("🚫 Requests Blocked:"),
        QStringLiteral("🌐 Domains Blocked:"),
    };
    QLabel **values[] = {&adsLabel, &trackersLabel, &cookiesLabel, &requestsLabel, &domainsLabel};
    for (int row = 0; row < captions.size(); ++row) {
        grid->addWidget(new QLabel(captions.at(row), statsGroup), row, 0);
        *values[row] = new QLabel(QStringLiteral("0"), statsGroup);
        grid->addWidget(*values[row], row, 1);
    }
    // The engine says which site a cookie was for, not which tab asked.
    cookiesLabel->setToolTip(tr("Cookies refused on this tab's site since the statistics were reset; "
                                "tabs of the same site count together"));
    layout->addWidget(statsGroup);

    auto *protectionGroup = new QGroupBox(tr("Active Protections"), this);
    auto *protectionLayout = new QVBoxLayout(protectionGroup);
    adBlockingLabel = new QLabel(protectionGroup);
    trackingLabel = new QLabel(protectionGroup);
    fingerprintLabel = new QLabel(protectionGroup);
    cookieBlockingLabel = new QLabel(protectionGroup);
    protectionLayout->addWidget(adBlockingLabel);
    protectionLayout->addWidget(trackingLabel);
    protectionLayout->addWidget(fingerprintLabel);
    protectionLayout->addWidget(cookieBlockingLabel);
    siteBox = new QCheckBox(tr("Protection on this site"), protectionGroup);
    siteBox->setObjectName(QStringLiteral("siteProtectionBox"));
    siteBox->setToolTip(tr("Off: nothing is blocked or hidden on this site, in any tab; the DNT and Sec-GPC "
                           "headers and the fingerprint protection stay"));
    siteBox->hide();
    protectionLayout->addWidget(siteBox);
    connect(siteBox, &QCheckBox::toggled, this, [this](bool on) {
        if (sites && engine && !engine->currentSite().isEmpty())
            sites->setProtected(engine->currentSite(), on);
    });
    layout->addWidget(protectionGroup);

    auto *domainGroup = new QGroupBox(tr("Blocked Domains"), this);
    auto *domainLayout = new QVBoxLayout(domainGroup);
    domainTable = new QTableWidget(0, 3, domainGroup);
    domainTable->setHorizontalHeaderLabels({tr("Domain"), tr("Requests"), tr("Blocked by")});
    domainTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    domainTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    domainTable->horizontalHeader()->setStretchLastSection(true);
    domainTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    domainTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    domainTable->setStyleSheet(QStringLiteral(
        "QTableWidget { background: #1e1e1e; color: white; gridline-color: #404040; }"
        "QHeaderView::section { background: #2d2d2d; color: white; padding: 8px; }"));
    domainLayout->addWidget(domainTable);
    layout->addWidget(domainGroup);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *resetButton = new QPushButton(QStringLiteral("🔄 Reset Stats"), this);
    resetButton->setObjectName(QStringLiteral("resetStatsButton"));
    connect(resetButton, &QPushButton::clicked, this, &PrivacyDashboard::onResetStats);
    buttons->addWidget(resetButton);
    auto *closeButton = new QPushButton(tr("Close"), this);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);
}

void PrivacyDashboard::updateStats()
{
    if (!engine)
        return;
    const QJsonObject stats = engine->getPrivacyStats();
    adsLabel->setText(QString::number(stats.value(QStringLiteral("adsBlocked")).toInt()));
    trackersLabel->setText(QString::number(stats.value(QStringLiteral("trackersBlocked")).toInt()));
    cookiesLabel->setText(QString::number(stats.value(QStringLiteral("cookiesBlocked")).toInt()));
    requestsLabel->setText(QString::number(stats.value(QStringLiteral("requestsBlocked")).toInt()));
    domainsLabel->setText(QString::number(stats.value(QStringLiteral("domainsBlocked")).toInt()));

    const QJsonObject switches = engine->getPrivacySettings();
    adBlockingLabel->setText(protectionText(tr("Ad Blocking"),
                                            switches.value(QStringLiteral("adBlocking")).toBool()));
    trackingLabel->setText(protectionText(
        tr("Tracking Protection"), switches.value(QStringLiteral("trackingProtection")).toBool()));
    fingerprintLabel->setText(protectionText(
        tr("Fingerprint Protection"),
        switches.value(QStringLiteral("fingerprintProtection")).toBool()));
    cookieBlockingLabel->setText(protectionText(
        tr("Cookie Blocking"), switches.value(QStringLiteral("cookieBlocking")).toBool()));

    // Hosts and rules come from pages and lists: items show them as plain text.
    const QList<RequestInterceptor::HostRecord> records = engine->blockedHostRecords();
    domainTable->setRowCount(records.size());
    for (int row = 0; row < records.size(); ++row) {
        const RequestInterceptor::HostRecord &record = records.at(row);
        const QString cells[] = {record.host, QString::number(record.count), record.blockedBy};
        for (int column = 0; column < 3; ++column) {
            QTableWidgetItem *item = domainTable->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                domainTable->setItem(row, column, item);
            }
            if (item->text() != cells[column])
                item->setText(cells[column]);
            if (column == 2)
                item->setToolTip(cells[column]);
        }
    }

    const QString site = engine->currentSite();
    siteBox->setVisible(sites && !site.isEmpty());
    if (sites && !site.isEmpty()) {
        const QSignalBlocker blocker(siteBox);
        siteBox->setText(tr("Protection on this site (%1)").arg(site));
        siteBox->setChecked(sites->isProtected(site));
    }
}

void PrivacyDashboard::setSiteProtection(SiteProtection *protection)
{
    sites = protection;
    updateStats();
}

void PrivacyDashboard::onResetStats()
{
    const auto answer = QMessageBox::question(
        this, tr("Reset Stats"), tr("Are you sure you want to reset all privacy statistics?"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes || !engine)
        return;
    engine->resetStats();
    updateStats();
}
