#pragma once

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QSettings;
class VPNManager;

// Keeps the account's session token (INI file, 0600) and fetches the user's
// WireGuard keys and server list from the account service.
class AccountSyncManager : public QObject
{
    Q_OBJECT
public:
    explicit AccountSyncManager(VPNManager *vpnManager, QObject *parent = nullptr);
    ~AccountSyncManager() override;

    void syncKeys(const QString &token = QString());
    void saveToken(const QString &token, const QString &username);
    QString getSavedToken() const;
    QString getSavedUsername() const;
    bool hasValidToken() const;
    void clearToken();
    // Forgets the token, removes the synced WireGuard configuration and the
    // keys and servers held in memory. False when a file could not be changed.
    bool logOut();

    // The account service base URL (default ServiceEndpoints::accountUrl()).
    QString baseUrl() const { return m_baseUrl; }
    void setBaseUrl(const QString &url);
    // Folder of the token store and of "vpn/orvexvpn.conf"; defaults to
    // QStandardPaths::AppConfigLocation.
    QString configFolder() const { return m_configFolder; }
    void setConfigFolder(const QString &folder);
    QString tokenStorePath() const;
    QString wireGuardConfigPath() const;
    // A keys request taking longer than this fails (default 30 s).
    void setTimeout(int ms) { timeoutMs = ms; }

    // A token goes into a Cookie header: printable ASCII without separators.
    static bool isUsableToken(const QString &token);
    // The config text for a reply's "wireguard" object, or empty when any
    // value is missing or unsafe.
    static QString configFromReply(const QJsonObject &wireguard);

signals:
    void syncStarted();
    void syncFinished(bool success, const QString &message);
    void keysReceived(const QJsonObject &keys);

private slots:
    void onReplyFinished(QNetworkReply *reply);

private:
    void openTokenStore();
    void flushTokenStore();

    QPointer<VPNManager> vpnManager;
    QNetworkAccessManager *networkManager = nullptr;
    QSettings *settings = nullptr;
    QString m_baseUrl;
    QString m_configFolder;
    int timeoutMs = 30000;
};
