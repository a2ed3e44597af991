#include "PrivacyEngine.h"

#include "ActiveFilters.h"
#include "PageScript.h"
#include "PlainMessageBox.h"
#include "ProfileProtection.h"
#include "ProtectionScript.h"
#include "PublicSuffix.h"
#include "RequestInterceptor.h"
#include "WebPage.h"

#include <QRandomGenerator>
#include <QWebEngineProfile>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

bool boolOrTrue(const QJsonObject &settings, const QString &key)
{
    const QJsonValue value = settings.value(key);
    return value.isBool() ? value.toBool() : true;
}

} // namespace

PrivacyEngine::PrivacyEngine(QObject *parent)
    : QObject(parent)
    , adPatterns{
          // ad networks
          QStringLiteral("doubleclick"), QStringLiteral("googlesyndication"),
          QStringLiteral("googleadservices"), QStringLiteral("adsense"),
          QStringLiteral("adform"), QStringLiteral("adnxs"), QStringLiteral("adsrvr"),
          QStringLiteral("adtech"), QStringLiteral("criteo"), QStringLiteral("rubiconproject"),
          QStringLiteral("pubmatic"), QStringLiteral("openx"), QStringLiteral("casalemedia"),
          QStringLiteral("33across"), QStringLiteral("outbrain"), QStringLiteral("taboola"),
          QStringLiteral("revcontent"), QStringLiteral("zemanta"), QStringLiteral("mgid.com"),
          QStringLiteral("adsystem"),
          // URL and wording patterns
          QStringLiteral("/ads/"), QStringLiteral("/advertising/"), QStringLiteral("/banner"),
          QStringLiteral("/sponsor"), QStringLiteral("/promo"), QStringLiteral("/ad."),
          QStringLiteral(".ad."), QStringLiteral("/ad?"), QStringLiteral("?ad="),
          QStringLiteral("/ad/"), QStringLiteral("/ads?"), QStringLiteral("advertisement"),
          QStringLiteral("advert"), QStringLiteral("sponsored"), QStringLiteral("promotion"),
      }
    , trackerDomains{
          // Google
          QStringLiteral("google-analytics.com"), QStringLiteral("googletagmanager.com"),
          QStringLiteral("googleadservices.com"), QStringLiteral("googlesyndication.com"),
          QStringLiteral("doubleclick.net"), QStringLiteral("adservice.google"),
          QStringLiteral("analytics.google"),
          // Facebook
          QStringLiteral("facebook.net"), QStringLiteral("facebook.com/tr"),
          QStringLiteral("fbcdn.net"), QStringLiteral("connect.facebook.net"),
          // Twitter
          QStringLiteral("analytics.twitter.com/i/adsct"), QStringLiteral("ads-twitter.com"),
          // Amazon
          QStringLiteral("amazon-adsystem.com"),
          // audience measurement and analytics
          QStringLiteral("scorecardresearch.com"), QStringLiteral("quantserve.com"),
          QStringLiteral("chartbeat.com"), QStringLiteral("mixpanel.com"),
          QStringLiteral("segment.com"), QStringLiteral("amplitude.com"),
          // visitor recording and testing
          QStringLiteral("hotjar.com"), QStringLiteral("fullstory.com"),
          QStringLiteral("mouseflow.com"), QStringLiteral("crazyegg.com"),
          QStringLiteral("optimizely.com"), QStringLiteral("visualwebsiteoptimizer.com"),
          QStringLiteral("newrelic.com"),
          QStringLiteral("adobe"), QStringLiteral("omniture"),
          // share widgets
          QStringLiteral("addthis.com"), QStringLiteral("sharethis.com"),
          QStringLiteral("addtoany.com"),
          // data brokers
          QStringLiteral("bluekai.com"), QStringLiteral("lotame.com"),
          QStringLiteral("neustar.biz"), QStringLiteral("exelator.com"), QStringLiteral("turn.com"),
      }
    , m_interceptor(new RequestInterceptor(this))
{
}

// Runs before the children (the interceptor among them) are deleted: a page
// that outlives its tab (a PDF still printing) must not keep a dangling
// interceptor, and its requests go back to the profile's.
PrivacyEngine::~PrivacyEngine()
{
    for (const AppliedPage &entry : std::as_const(m_appliedPages)) {
        if (!entry.page)
            continue;
        if (entry.page->profile())
            ProfileProtection::of(entry.page->profile())->removePage(entry.page);
        entry.page->setUrlRequestInterceptor(nullptr);
    }
}

const QStringList &PrivacyEngine::settingsKeys()
{
    static const QStringList keys{
        QStringLiteral("adBlocking"),         QStringLiteral("trackingProtection"),
        QStringLiteral("fingerprintProtection"), QStringLiteral("cookieBlocking"),
        QStringLiteral("blockAllCookies"),    QStringLiteral("blockFonts"),
        QStringLiteral("blockCamera"),        QStringLiteral("blockMicrophone"),
        QStringLiteral("blockGeolocation"),   QStringLiteral("blockNotifications"),
    };
    return keys;
}

void PrivacyEngine::applySettings(const QJsonObject &settings)
{
    const QJsonObject before = getPrivacySettings();
    adBlocking = boolOrTrue(settings, QStringLiteral("adBlocking"));
    trackingProtection = boolOrTrue(settings, QStringLiteral("trackingProtection"));
    fingerprintProtection = boolOrTrue(settings, QStringLiteral("fingerprintProtection"));
    cookieBlocking = boolOrTrue(settings, QStringLiteral("cookieBlocking"));
    blockAllCookies = boolOrTrue(settings, QStringLiteral("blockAllCookies"));
    blockFonts = boolOrTrue(settings, QStringLiteral("blockFonts"));
    blockCamera = boolOrTrue(settings, QStringLiteral("blockCamera"));
    blockMicrophone = boolOrTrue(settings, QStringLiteral("blockMicrophone"));
    blockGeolocation = boolOrTrue(settings, QStringLiteral("blockGeolocation"));
    blockNotifications = boolOrTrue(settings, QStringLiteral("blockNotifications"));
    m_interceptor->setAdBlockingEnabled(adBlocking);
    m_interceptor->setTrackingProtectionEnabled(trackingProtection);
    applyProfileSwitches();
    if (getPrivacySettings() != before)
        refreshScripts();
}

// The switches are stored once for the whole browser, so the profile-wide
// interceptor and the cookie filter follow whichever tab heard of them last.
void PrivacyEngine::applyProfileSwitches()
{
    QSet<QWebEngineProfile *> profiles;
    for (const AppliedPage &entry : std::as_const(m_appliedPages)) {
        if (entry.page && entry.page->profile())
            profiles.insert(entry.page->profile());
    }
    for (QWebEngineProfile *profile : std::as_const(profiles)) {
        ProfileProtection *protection = ProfileProtection::of(profile);
        protection->setBlockingSwitches(adBlocking, trackingProtection);
        protection->setCookieSwitches(cookieBlocking, blockAllCookies);
    }
}

QJsonObject PrivacyEngine::getPrivacySettings() const
{
    return QJsonObject{
        {QStringLiteral("adBlocking"), adBlocking},
        {QStringLiteral("trackingProtection"), trackingProtection},
        {QStringLiteral("fingerprintProtection"), fingerprintProtection},
        {QStringLiteral("cookieBlocking"), cookieBlocking},
        {QStringLiteral("blockAllCookies"), blockAllCookies},
        {QStringLiteral("blockFonts"), blockFonts},
        {QStringLiteral("blockCamera"), blockCamera},
        {QStringLiteral("blockMicrophone"), blockMicrophone},
        {QStringLiteral("blockGeolocation"), blockGeolocation},
        {QStringLiteral("blockNotifications"), blockNotifications},
    };
}

void PrivacyEngine::applyPrivacySettings(QWebEngineView *view)
{
    if (!view)
        return;
    QWebEngineSettings *settings = view->settings();
    settings->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);

    QWebEnginePage *page = view->page();
    if (!page)
        return;
    if (!findApplied(page)) {
        AppliedPage entry{page, {}};
        entry.unprotected = !PublicSuffix::site(page->url()).isEmpty()
            && ActiveFilters::isUnprotected(PublicSuffix::site(page->url()));
        entry.script = new ProtectionScript(page, this);
        entry.script->setHidingEnabled(adBlocking);
        m_appliedPages.append(entry);
        connect(page, &QWebEnginePage::featurePermissionRequested, this,
                [this, page](const QUrl &origin, QWebEnginePage::Feature feature) {
                    onFeaturePermissionRequested(page, origin, feature);
                });
        if (auto *webPage = qobject_cast<WebPage *>(page)) {
            connect(webPage, &WebPage::navigationAccepted, this, [this, page](const QUrl &url, bool isMainFrame) {
                onNavigationAccepted(page, url, isMainFrame);
            });
        }
        // A site switched on or off takes effect on the tab's next load.
        connect(ActiveFilters::instance(), &ActiveFilters::unprotectedSitesChanged, this,
                [this, guard = QPointer<QWebEnginePage>(page)] {
                    if (guard)
                        onNavigationAccepted(guard, guard->url(), true);
                });
    }
    insertEnabledScripts(view);

    // The page's own interceptor counts its requests; the profile's leaves them to it.
    page->setUrlRequestInterceptor(m_interceptor);
    if (page->profile()) {
        ProfileProtection::of(page->profile())->addPage(page);
        applyProfileSwitches();
    }
}

void PrivacyEngine::prepareNavigation(QWebEnginePage *page, const QUrl &url)
{
    onNavigationAccepted(page, url, true);
}

void PrivacyEngine::onNavigationAccepted(QWebEnginePage *page, const QUrl &url, bool isMainFrame)
{
    AppliedPage *entry = findApplied(page);
    if (!entry)
        return;
    // Frames run no page protection script: only the page's navigations count.
    if (!isMainFrame)
        return;
    if (page->profile())
        ProfileProtection::of(page->profile())->notePendingUrl(page, url);
    // The ad and tracking scripts are content blocking: not on a site the
    // user switched off. Set up before the new document is created.
    const QString site = PublicSuffix::site(url);
    entry->unprotected = !site.isEmpty() && ActiveFilters::isUnprotected(site);
    if (entry->script) {
        entry->script->setPageScripts(pageScripts(entry->unprotected));
        entry->script->navigationAccepted(url);
    }
}

QString PrivacyEngine::pageScripts(bool unprotected) const
{
    QStringList parts;
    if (adBlocking && !unprotected)
        parts << getAdBlockingJS();
    if (trackingProtection && !unprotected)
        parts << getTrackingProtectionJS();
    if (fingerprintProtection)
        parts << getFingerprintProtectionJS();
    if (cookieBlocking)
        parts << getCookieBlockingJS();
    return parts.join(QStringLiteral("\n;\n"));
}

// The scripts of document creation go in as one (ProtectionScript).
void PrivacyEngine::insertEnabledScripts(QWebEngineView *view)
{
    AppliedPage *entry = view ? findApplied(view->page()) : nullptr;
    if (entry && entry->script) {
        entry->script->setHidingEnabled(adBlocking);
        entry->script->setPageScripts(pageScripts(entry->unprotected));
    }
    if (blockFonts) {
        const QString source = PageScript::fill(QStringLiteral("stylesheet.js"),
                                                {{QStringLiteral("STYLE_SHEET"), PageScript::string(getFontBlockingCSS())}});
        insertScript(view, source, QWebEngineScript::DocumentReady);
    }
}

void PrivacyEngine::insertScript(QWebEngineView *view, const QString &source,
                                 QWebEngineScript::InjectionPoint point)
{
    if (!view)
        return;
    QWebEnginePage *page = view->page();
    QWebEngineScript script;
    script.setSourceCode(source);
    script.setInjectionPoint(point);
    script.setWorldId(QWebEngineScript::MainWorld);
    page->scripts().insert(script);
    if (AppliedPage *applied = findApplied(page))
        applied->scripts.append(script);
    else
        m_appliedPages.append(AppliedPage{page, {script}, nullptr, false});
}

PrivacyEngine::AppliedPage *PrivacyEngine::findApplied(const QWebEnginePage *page)
{
    for (AppliedPage &applied : m_appliedPages) {
        if (applied.page == page)
            return &applied;
    }
    return nullptr;
}

void PrivacyEngine::injectAdBlocking(QWebEngineView *view)
{
    insertScript(view, getAdBlockingJS(), QWebEngineScript::DocumentCreation);
}

void PrivacyEngine::injectTrackingProtection(QWebEngineView *view)
{
    insertScript(view, getTrackingProtectionJS(), QWebEngineScript::DocumentCreation);
}

void PrivacyEngine::injectFingerprintProtection(QWebEngineView *view)
{
    insertScript(view, getFingerprintProtectionJS(), QWebEngineScript::DocumentCreation);
}

void PrivacyEngine::injectCookieBlocking(QWebEngineView *view)
{
    insertScript(view, getCookieBlockingJS(), QWebEngineScript::DocumentCreation);
}

// Scripts of a page already set up are swapped so a changed switch takes
// effect on that tab's next page load.
void PrivacyEngine::refreshScripts()
{
    for (AppliedPage &entry : m_appliedPages) {
        if (!entry.page)
            continue;
        const QList<QWebEngineScript> old = std::exchange(entry.scripts, {});
        for (const QWebEngineScript &script : old)
            entry.page->scripts().remove(script);
    }
    m_appliedPages.removeIf([](const AppliedPage &entry) { return !entry.page; });
    const QList<AppliedPage> pages = m_appliedPages;
    for (const AppliedPage &entry : pages) {
        if (QWebEngineView *view = QWebEngineView::forPage(entry.page))
            insertEnabledScripts(view);
    }
}

void PrivacyEngine::setScriptSwitch(bool &field, bool value)
{
    if (field == value)
        return;
    field = value;
    refreshScripts();
}

void PrivacyEngine::setAdBlocking(bool enabled)
{
    m_interceptor->setAdBlockingEnabled(enabled);
    setScriptSwitch(adBlocking, enabled);
}

void PrivacyEngine::setTrackingProtection(bool enabled)
{
    m_interceptor->setTrackingProtectionEnabled(enabled);
    setScriptSwitch(trackingProtection, enabled);
}

void PrivacyEngine::setFingerprintProtection(bool enabled)
{
    setScriptSwitch(fingerprintProtection, enabled);
}

void PrivacyEngine::setCookieBlocking(bool enabled)
{
    setScriptSwitch(cookieBlocking, enabled);
}

void PrivacyEngine::setBlockAllCookies(bool enabled)
{
    setScriptSwitch(blockAllCookies, enabled);
}

void PrivacyEngine::setBlockFonts(bool enabled)
{
    setScriptSwitch(blockFonts, enabled);
}

void PrivacyEngine::setBlockCamera(bool enabled)
{
    blockCamera = enabled;
}

void PrivacyEngine::setBlockMicrophone(bool enabled)
{
    blockMicrophone = enabled;
}

void PrivacyEngine::setBlockGeolocation(bool enabled)
{
    blockGeolocation = enabled;
}

void PrivacyEngine::setBlockNotifications(bool enabled)
{
    blockNotifications = enabled;
}

QJsonObject PrivacyEngine::getPrivacyStats() const
{
    const int interceptedAds = m_interceptor ? m_interceptor->blockedAdsCount() : 0;
    const int interceptedTrackers = m_interceptor ? m_interceptor->blockedTrackersCount() : 0;
    return QJsonObject{
        {QStringLiteral("adsBlocked"), adsBlocked + interceptedAds},
        {QStringLiteral("trackersBlocked"), trackersBlocked + interceptedTrackers},
        {QStringLiteral("cookiesBlocked"), cookiesBlocked + blockedCookies()},
        {QStringLiteral("requestsBlocked"), requestsBlocked + interceptedAds + interceptedTrackers},
        {QStringLiteral("domainsBlocked"), int(getBlockedDomains().size())},
    };
}

QStringList PrivacyEngine::getBlockedDomains() const
{
    QSet<QString> all = blockedDomains;
    if (m_interceptor) {
        const QStringList hosts = m_interceptor->blockedHosts();
        all.unite(QSet<QString>(hosts.cbegin(), hosts.cend()));
    }
    QStringList list(all.cbegin(), all.cend());
    list.sort();
    return list;
}

void PrivacyEngine::resetStats()
{
    adsBlocked = 0;
    trackersBlocked = 0;
    cookiesBlocked = 0;
    requestsBlocked = 0;
    blockedDomains.clear();
    if (m_interceptor)
        m_interceptor->resetCounters();
    // The cookie counts are the profile's, per site: this tab counts from here.
    if (const QWebEnginePage *page = primaryPage(); page && page->profile()) {
        const QString site = currentSite();
        m_cookieBaseline.insert(site, ProfileProtection::of(page->profile())->cookiesBlocked(site));
    }
}

QWebEnginePage *PrivacyEngine::primaryPage() const
{
    for (const AppliedPage &entry : m_appliedPages) {
        if (entry.page)
            return entry.page;
    }
    return nullptr;
}

QString PrivacyEngine::currentSite() const
{
    const QWebEnginePage *page = primaryPage();
    return page ? PublicSuffix::site(page->url()) : QString();
}

int PrivacyEngine::blockedCookies() const
{
    const QWebEnginePage *page = primaryPage();
    if (!page || !page->profile())
        return 0;
    const QString site = currentSite();
    if (site.isEmpty())
        return 0;
    const int count = ProfileProtection::of(page->profile())->cookiesBlocked(site);
    return qMax(0, count - m_cookieBaseline.value(site));
}

QList<RequestInterceptor::HostRecord> PrivacyEngine::blockedHostRecords() const
{
    return m_interceptor ? m_interceptor->blockedHostRecords() : QList<RequestInterceptor::HostRecord>();
}

void PrivacyEngine::setPermissionAsker(PermissionAsker asker)
{
    m_asker = std::move(asker);
}

PrivacyEngine::PermissionDecision PrivacyEngine::permissionDecision(
    QWebEnginePage::Feature feature, bool blockCamera, bool blockMicrophone,
    bool blockGeolocation, bool blockNotifications)
{
    bool blocked = false;
    switch (feature) {
    case QWebEnginePage::MediaAudioCapture:
        blocked = blockMicrophone;
        break;
    case QWebEnginePage::MediaVideoCapture:
        blocked = blockCamera;
        break;
    case QWebEnginePage::MediaAudioVideoCapture:
        blocked = blockCamera || blockMicrophone;
        break;
    case QWebEnginePage::Geolocation:
        blocked = blockGeolocation;
        break;
    case QWebEnginePage::Notifications:
        blocked = blockNotifications;
        break;
    default:
        return PermissionDecision::Default;
    }
    return blocked ? PermissionDecision::Deny : PermissionDecision::Ask;
}

QString PrivacyEngine::permissionQuestion(const QString &site, QWebEnginePage::Feature feature)
{
    QString what;
    switch (feature) {
    case QWebEnginePage::MediaAudioCapture:
        what = tr("use your microphone");
        break;
    case QWebEnginePage::MediaVideoCapture:
        what = tr("use your camera");
        break;
    case QWebEnginePage::MediaAudioVideoCapture:
        what = tr("use your camera and microphone");
        break;
    case QWebEnginePage::Geolocation:
        what = tr("know your location");
        break;
    case QWebEnginePage::Notifications:
        what = tr("show notifications");
        break;
    default:
        what = tr("use a device feature");
        break;
    }
    return tr("Allow %1 to %2?").arg(site, what);
}

bool PrivacyEngine::askWithMessageBox(QWidget *parent, const QString &site,
                                      QWebEnginePage::Feature feature)
{
    return PlainMessageBox::ask(parent, tr("Permission Request"), permissionQuestion(site, feature));
}

void PrivacyEngine::onFeaturePermissionRequested(QWebEnginePage *page, const QUrl &origin,
                                                 QWebEnginePage::Feature feature)
{
    const PermissionDecision decision = permissionDecision(
        feature, blockCamera, blockMicrophone, blockGeolocation, blockNotifications);
    if (decision == PermissionDecision::Default)
        return;
    if (decision == PermissionDecision::Deny) {
        page->setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
        return;
    }
    const QString site = origin.host().isEmpty() ? origin.toDisplayString() : origin.host();
    const PermissionAsker asker = m_asker ? m_asker : PermissionAsker(&askWithMessageBox);
    // The question runs a nested event loop: the tab may close meanwhile.
    QPointer<QWebEnginePage> guard(page);
    const bool granted = asker(QWebEngineView::forPage(page), site, feature);
    if (!guard)
        return;
    guard->setFeaturePermission(origin, feature,
                                granted ? QWebEnginePage::PermissionGrantedByUser
                                        : QWebEnginePage::PermissionDeniedByUser);
}

QString PrivacyEngine::getAdBlockingJS() const
{
    return PageScript::withElementFeed(
        PageScript::fill(QStringLiteral("adblocking.js"), {{QStringLiteral("AD_PATTERNS"), PageScript::array(adPatterns)}}));
}

QString PrivacyEngine::getTrackingProtectionJS() const
{
    return PageScript::withElementFeed(PageScript::fill(QStringLiteral("trackingprotection.js"),
                                                        {{QStringLiteral("TRACKER_DOMAINS"), PageScript::array(trackerDomains)}}));
}

void PrivacyEngine::setFingerprintSessionKey(const QByteArray &key)
{
    fingerprintSessionKey() = key;
}

QByteArray &PrivacyEngine::fingerprintSessionKey()
{
    static QByteArray key = [] {
        QByteArray bytes(16, Qt::Uninitialized);
        QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
        return bytes;
    }();
    return key;
}

QString PrivacyEngine::getFingerprintProtectionJS() const
{
    return PageScript::fill(QStringLiteral("fingerprintprotection.js"),
                            {{QStringLiteral("SESSION_KEY"),
                              PageScript::string(QString::fromLatin1(fingerprintSessionKey().toHex()))}});
}

QString PrivacyEngine::getCookieBlockingJS() const
{
    return PageScript::fill(QStringLiteral("cookieblocking.js"),
                            {{QStringLiteral("TRACKER_DOMAINS"), PageScript::array(trackerDomains)},
                             {QStringLiteral("BLOCK_ALL_COOKIES"), PageScript::boolean(blockAllCookies)}});
}

QString PrivacyEngine::getFontBlockingCSS() const
{
    return PageScript::source(QStringLiteral("fontblocking.css"));
}
