#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <functional>

#include "RequestInterceptor.h"

class ProtectionScript;
class QWebEngineProfile;
class QWebEngineView;
class QWidget;

// One tab's privacy switches and statistics. Applies page scripts, view
// settings, the request interceptor and the permission policy to a view.
class PrivacyEngine : public QObject
{
    Q_OBJECT
public:
    enum class PermissionDecision { Deny, Ask, Default };
    // Asks the user whether `site` may use `feature`; true grants it.
    using PermissionAsker =
        std::function<bool(QWidget *parent, const QString &site, QWebEnginePage::Feature feature)>;

    explicit PrivacyEngine(QObject *parent = nullptr);
    ~PrivacyEngine() override;

    // Takes the ten stored privacy switches; a missing or non-bool key is true.
    void applySettings(const QJsonObject &settings);
    void applyPrivacySettings(QWebEngineView *view);
    // The tab is about to load url: sets up what its document needs before
    // the engine starts the navigation (for a page of another site the
    // engine prepares the new document's renderer right away, with the
    // scripts the page has at that moment).
    void prepareNavigation(QWebEnginePage *page, const QUrl &url);

    void injectAdBlocking(QWebEngineView *view);
    void injectTrackingProtection(QWebEngineView *view);
    void injectFingerprintProtection(QWebEngineView *view);
    void injectCookieBlocking(QWebEngineView *view);

    QString getAdBlockingJS() const;
    QString getTrackingProtectionJS() const;
    QString getFingerprintProtectionJS() const;
    // The canvas read-back change of the fingerprint script is keyed to this:
    // random for each run of the browser. Scripts built afterwards use a new
    // key, as another run would (tests).
    static void setFingerprintSessionKey(const QByteArray &key);
    QString getCookieBlockingJS() const;
    QString getFontBlockingCSS() const;

    void setAdBlocking(bool enabled);
    void setTrackingProtection(bool enabled);
    void setFingerprintProtection(bool enabled);
    void setCookieBlocking(bool enabled);
    void setBlockAllCookies(bool enabled);
    void setBlockFonts(bool enabled);
    void setBlockCamera(bool enabled);
    void setBlockMicrophone(bool enabled);
    void setBlockGeolocation(bool enabled);
    void setBlockNotifications(bool enabled);

    // The ten switches under their settings keys.
    QJsonObject getPrivacySettings() const;
    QJsonObject getPrivacyStats() const;
    QStringList getBlockedDomains() const;
    // The blocked hosts with their counts and what blocked them.
    QList<RequestInterceptor::HostRecord> blockedHostRecords() const;
    // The tab's page (the first view applied), its site, and the cookies
    // refused on that site since the tab's statistics were last reset (the
    // engine counts cookies per site, not per tab: tabs of the same site
    // share the count).
    QWebEnginePage *primaryPage() const;
    QString currentSite() const;
    int blockedCookies() const;
    // Clears this engine's statistics, its interceptor's counters included.
    void resetStats();

    RequestInterceptor *interceptor() const { return m_interceptor; }
    const QStringList &getAdPatterns() const { return adPatterns; }
    const QStringList &getTrackerDomains() const { return trackerDomains; }

    // Replaces the Yes/No question (tests); an empty asker restores the default.
    void setPermissionAsker(PermissionAsker asker);

    static const QStringList &settingsKeys();
    static PermissionDecision permissionDecision(QWebEnginePage::Feature feature,
                                                 bool blockCamera, bool blockMicrophone,
                                                 bool blockGeolocation, bool blockNotifications);
    // The question shown for a site asking for a feature.
    static QString permissionQuestion(const QString &site, QWebEnginePage::Feature feature);
    static bool askWithMessageBox(QWidget *parent, const QString &site,
                                  QWebEnginePage::Feature feature);

private:
    struct AppliedPage {
        QPointer<QWebEnginePage> page;
        QList<QWebEngineScript> scripts;
        ProtectionScript *script = nullptr; // the scripts of document creation
        bool unprotected = false; // the scripts were made for a site switched off
    };

    static QByteArray &fingerprintSessionKey();
    AppliedPage *findApplied(const QWebEnginePage *page);
    void insertScript(QWebEngineView *view, const QString &source,
                      QWebEngineScript::InjectionPoint point);
    void insertEnabledScripts(QWebEngineView *view);
    // The page scripts that are on, as one source.
    QString pageScripts(bool unprotected) const;
    void setScriptSwitch(bool &field, bool value);
    void refreshScripts();
    void applyProfileSwitches();
    void onNavigationAccepted(QWebEnginePage *page, const QUrl &url, bool isMainFrame);
    void onFeaturePermissionRequested(QWebEnginePage *page, const QUrl &origin,
                                      QWebEnginePage::Feature feature);

    bool adBlocking = true;
    bool trackingProtection = true;
    bool fingerprintProtection = true;
    bool cookieBlocking = true;
    bool blockAllCookies = true;
    bool blockFonts = true;
    bool blockCamera = true;
    bool blockMicrophone = true;
    bool blockGeolocation = true;
    bool blockNotifications = true;
    int adsBlocked = 0;
    int trackersBlocked = 0;
    int cookiesBlocked = 0;
    int requestsBlocked = 0;
    QSet<QString> blockedDomains;
    QHash<QString, int> m_cookieBaseline;
    QStringList adPatterns;
    QStringList trackerDomains;
    RequestInterceptor *m_interceptor = nullptr;

    QList<AppliedPage> m_appliedPages;
    PermissionAsker m_asker;
};
