#include "PrivacyDashboard.h"

#include "PrivacyEngine.h"

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
    layout->addWidget(protectionGroup);

    auto *domainGroup = new QGroupBox(tr("Blocked Domains"), this);
    auto *domainLayout = new QVBoxLayout(domainGroup);
    domainTable = new QTableWidget(0, 1, domainGroup);
    domainTable->setHorizontalHeaderLabels({tr("Domain")});
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

    const QStringList domains = engine->getBlockedDomains();
    domainTable->setRowCount(domains.size());
    for (int row = 0; row < domains.size(); ++row)
        domainTable->setItem(row, 0, new QTableWidgetItem(domains.at(row)));
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
