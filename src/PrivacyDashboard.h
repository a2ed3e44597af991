#pragma once

#include <QDialog>
#include <QPointer>

class PrivacyEngine;
class QCheckBox;
class QLabel;
class QTableWidget;
class QTimer;
class SiteProtection;

// Modal dialog with one tab's privacy statistics, refreshed every two
// seconds: the counts of the tab's own blocked requests, each blocked host
// with the list rule (or built-in list) that blocked it, and the "Protection
// on this site" switch for the tab's site.
class PrivacyDashboard : public QDialog
{
    Q_OBJECT
public:
    static constexpr int RefreshIntervalMs = 2000;

    explicit PrivacyDashboard(PrivacyEngine *engine, QWidget *parent = nullptr);

    // "✅ <name>: ON" or "❌ <name>: OFF".
    static QString protectionText(const QString &name, bool on);

    // Offers the per-site switch for the tab's site.
    void setSiteProtection(SiteProtection *sites);
    QCheckBox *siteProtectionBox() const { return siteBox; }
    QTableWidget *domains() const { return domainTable; }

public Q_SLOTS:
    void updateStats();
    void onResetStats();

private:
    void setupUI();

    QPointer<PrivacyEngine> engine;
    QLabel *adsLabel = nullptr;
    QLabel *trackersLabel = nullptr;
    QLabel *cookiesLabel = nullptr;
    QLabel *requestsLabel = nullptr;
    QLabel *domainsLabel = nullptr;
    QLabel *adBlockingLabel = nullptr;
    QLabel *trackingLabel = nullptr;
    QLabel *fingerprintLabel = nullptr;
    QLabel *cookieBlockingLabel = nullptr;
    QTableWidget *domainTable = nullptr;
    QTimer *refreshTimer = nullptr;
    QPointer<SiteProtection> sites;
    QCheckBox *siteBox = nullptr;
};
