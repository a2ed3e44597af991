#include "AccountSyncManager.h"

#include "ServiceEndpoints.h"
#include "StoreFile.h"
#include "VPNManager.h"
#include "WireGuardConfig.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString tokenKey = QStringLiteral("auth/token");
const QString usernameKey = QStringLiteral("auth/username");
}

AccountSyncManager::AccountSyncManager(VPNManager *vpn, QObject *parent)
    : QObject(parent)
    , vpnManager(vpn)
    , m_baseUrl(ServiceEndpoints::accountUrl())
    , m_configFolder(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
{
    networkManager = new QNetworkAccessManager(this);
    connect(networkManager, &QNetworkAccessManager::finished, this, &AccountSyncManager::onReplyFinished);
    openTokenStore();
}

AccountSyncManager::~AccountSyncManager() = default;

void AccountSyncManager::setBaseUrl(const QString &url)
{
    m_baseUrl = url;
    while (m_baseUrl.endsWith(QLatin1Char('/')))
        m_baseUrl.chop(1);
}

void AccountSyncManager::setConfigFolder(const QString &folder)
{
    m_configFolder = folder;
    openTokenStore();
}

QString AccountSyncManager::tokenStorePath() const
{
    return m_configFolder + QStringLiteral("/orvexbrowser.ini");
}

QString AccountSyncManager::wireGuardConfigPath() const
{
    return m_configFolder + QStringLiteral("/vpn/orvexvpn.conf");
}

void AccountSyncManager::openTokenStore()
{
    delete settings;
    QDir().mkpath(m_configFolder);
    const QString path = tokenStorePath();
    // QSettings saves through QSaveFile, which creates its temporary 0600
    // and copies the permissions of an existing file: so the file must exist
    // as 0600 before the first token is written.
    if (!QFileInfo::exists(path))
        StoreFile::write(path, QByteArray(), StoreFile::Access::Secret);
    else
        ::chmod(QFile::encodeName(path).constData(), 0600);
    settings = new QSettings(path, QSettings::IniFormat, this);
}

void AccountSyncManager::flushTokenStore()
{
    settings->sync();
    const QByteArray path = QFile::encodeName(tokenStorePath());
    struct stat st {};
    if (::stat(path.constData(), &st) == 0 && (st.st_mode & 0777) != 0600)
        ::chmod(path.constData(), 0600);
    if (settings->status() != QSettings::NoError)
        qDebug() << "AccountSyncManager: Could not write the token store";
}

void AccountSyncManager::saveToken(const QString &token, const QString &username)
{
    settings->setValue(tokenKey, token);
    settings->setValue(usernameKey, username);
    flushTokenStore();
    qDebug() << "AccountSyncManager: Token saved for user" << username;
}

QString AccountSyncManager::getSavedToken() const
{
    return settings->value(tokenKey).toString();
}

QString AccountSyncManager::getSavedUsername() const
{
    return settings->value(usernameKey).toString();
}

bool AccountSyncManager::hasValidToken() const
{
    return !getSavedToken().isEmpty();
}

void AccountSyncManager::clearToken()
{
    settings->remove(tokenKey);
    settings->remove(usernameKey);
    flushTokenStore();
    qDebug() << "AccountSyncManager: Token cleared";
}

bool AccountSyncManager::logOut()
{
    clearToken();
    bool ok = settings->status() == QSettings::NoError;
    if (::unlink(QFile::encodeName(wireGuardConfigPath()).constData()) != 0 && errno != ENOENT)
        ok = false;
    // Nothing of the account stays to connect with: keys and servers go too.
    if (vpnManager)
        vpnManager->setStoredKeys(QJsonObject{{QStringLiteral("available_servers"), QJsonArray()}});
    return ok;
}

bool AccountSyncManager::isUsableToken(const QString &token)
{
    // RFC 6265 cookie-octets: no control characters, blanks, quotes, commas,
    // semicolons or backslashes, so a token can never add a header.
    static const QRegularExpression octets(QStringLiteral("^[\\x21\\x23-\\x2B\\x2D-\\x3A\\x3C-\\x5B\\x5D-\\x7E]{1,4096}\\z"));
    return octets.match(token).hasMatch();
}

QString AccountSyncManager::configFromReply(const QJsonObject &wireguard)
{
    auto text = [&wireguard](const char *key) { return wireguard.value(QLatin1String(key)).toString(); };
    return WireGuardConfig::fromAccount(text("private_key"), text("client_ip"), text("server_public_key"),
                                        text("endpoint"))
        .value_or(QString());
}

void AccountSyncManager::syncKeys(const QString &givenToken)
{
    const QString token = givenToken.isEmpty() ? getSavedToken() : givenToken;
    if (!isUsableToken(token)) {
        emit syncFinished(false, QStringLiteral("No authentication token available. Please log in."));
        return;
    }
    emit syncStarted();
    qDebug() << "AccountSyncManager: Starting key sync...";
    QNetworkRequest request(QUrl(m_baseUrl + QStringLiteral("/api/vpn/keys")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setHeader(QNetworkRequest::CookieHeader,
                      QVariant::fromValue(QList<QNetworkCookie>{QNetworkCookie("session_token", token.toUtf8())}));
    request.setTransferTimeout(timeoutMs);
    networkManager->get(request);
}

void AccountSyncManager::onReplyFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        qDebug() << "AccountSyncManager: Sync failed -" << reply->errorString();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() == QNetworkReply::AuthenticationRequiredError || status == 401) {
            clearToken();
            emit syncFinished(false, QStringLiteral("Session expired. Please log in again."));
        } else {
            emit syncFinished(false, QStringLiteral("Network error: ") + reply->errorString());
        }
        return;
    }

    const QJsonDocument doc = QJsonDocument::fromJson(reply->readAll());
    if (!doc.isObject()) {
        emit syncFinished(false, QStringLiteral("Invalid response from server"));
        return;
    }
    const QJsonObject object = doc.object();
    if (object.contains(QLatin1String("error"))) {
        emit syncFinished(false, object.value(QLatin1String("error")).toString());
        return;
    }

    if (object.contains(QLatin1String("wireguard"))) {
        // wg-quick runs this file as root: a reply with any unsafe value is
        // refused whole, before anything is stored or written.
        const QString config = configFromReply(object.value(QLatin1String("wireguard")).toObject());
        if (config.isEmpty()) {
            qDebug() << "AccountSyncManager: Refusing unsafe WireGuard values";
            emit syncFinished(false, QStringLiteral("Invalid response from server"));
            return;
        }
        const QString path = wireGuardConfigPath();
        if (StoreFile::write(path, config.toUtf8(), StoreFile::Access::Secret))
            qDebug() << "AccountSyncManager: WireGuard config saved to" << path;
    }

    if (vpnManager) {
        vpnManager->setStoredKeys(object);
        emit vpnManager->keysUpdated(object);
    }
    emit keysReceived(object);
    emit syncFinished(true, QStringLiteral("VPN keys synced successfully!"));
    qDebug() << "AccountSyncManager: Keys synced successfully";
}
