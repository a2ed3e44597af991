#pragma once

#include <QDialog>
#include <QPointer>

class PrivacyEngine;
class QLabel;
class QTableWidget;
class QTimer;

// Modal dialog with one tab's privacy statistics, refreshed every two seconds.
class PrivacyDashboard : public QDialog
{
    Q_OBJECT
public:
    static constexpr int RefreshIntervalMs = 2000;

    explicit PrivacyDashboard(PrivacyEngine *engine, QWidget *parent = nullptr);

    // "✅ <name>: ON" or "❌ <name>: OFF".
    static QString protectionText(const QString &name, bool on);

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
};
