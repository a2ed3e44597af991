#include "PrivacyEngine.h"

#include "PlainMessageBox.h"
#include "RequestInterceptor.h"

#include <QRandomGenerator>
#include <QWebEngineProfile>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

// Live engines per profile, oldest first, and the one whose interceptor the
// profile holds. A profile keeps only one interceptor, so when the installed
// one's engine dies the newest remaining engine takes over at once.
struct ProfileSlot {
    QPointer<QWebEngineProfile> profile;
    QList<PrivacyEngine *> engines;
    PrivacyEngine *installed = nullptr;
};

QList<ProfileSlot> &profileSlots()
{
    static QList<ProfileSlot> registry;
    return registry;
}

QString jsArray(const QStringList &entries)
{
    QStringList quoted;
    quoted.reserve(entries.size());
    for (const QString &entry : entries)
        quoted.append(QStringLiteral("\"%1\"").arg(entry));
    return quoted.join(QStringLiteral(", "));
}

QString jsStringLiteral(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    out.replace(QLatin1Char('"'), QLatin1String("\\\""));
    out.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

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

// Runs before the children (the interceptor among them) are deleted, so the
// profile never holds a dangling or missing interceptor while tabs remain.
PrivacyEngine::~PrivacyEngine()
{
    uninstallInterceptor();
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
    if (getPrivacySettings() != before)
        refreshScripts();
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
    if (!findApplied(page)) {
        m_appliedPages.append(AppliedPage{page, {}});
        connect(page, &QWebEnginePage::featurePermissionRequested, this,
                [this, page](const QUrl &origin, QWebEnginePage::Feature feature) {
                    onFeaturePermissionRequested(page, origin, feature);
                });
    }
    insertEnabledScripts(view);

    if (page && page->profile()) {
        installInterceptor(page->profile());
        m_interceptor->setAdBlockingEnabled(adBlocking);
        m_interceptor->setTrackingProtectionEnabled(trackingProtection);
    }
}

void PrivacyEngine::insertEnabledScripts(QWebEngineView *view)
{
    if (adBlocking)
        injectAdBlocking(view);
    if (trackingProtection)
        injectTrackingProtection(view);
    if (fingerprintProtection)
        injectFingerprintProtection(view);
    if (cookieBlocking)
        injectCookieBlocking(view);
    if (blockFonts) {
        const QString source = QStringLiteral(R"JS((function () {
    'use strict';
    const style = document.createElement('style');
    style.textContent = %1;
    const target = document.head || document.documentElement;
    if (target)
        target.appendChild(style);
})();)JS").arg(jsStringLiteral(getFontBlockingCSS()));
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
        m_appliedPages.append(AppliedPage{page, {script}});
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

void PrivacyEngine::installInterceptor(QWebEngineProfile *profile)
{
    QList<ProfileSlot> &registry = profileSlots();
    ProfileSlot *slot = nullptr;
    for (ProfileSlot &candidate : registry) {
        if (candidate.profile == profile)
            slot = &candidate;
    }
    if (!slot) {
        registry.append(ProfileSlot{profile, {}, nullptr});
        slot = &registry.last();
    }
    slot->engines.removeAll(this);
    slot->engines.append(this);
    profile->setUrlRequestInterceptor(m_interceptor);
    slot->installed = this;
}

void PrivacyEngine::uninstallInterceptor()
{
    QList<ProfileSlot> &registry = profileSlots();
    for (ProfileSlot &slot : registry) {
        if (!slot.engines.removeAll(this) || slot.installed != this)
            continue;
        slot.installed = slot.engines.isEmpty() ? nullptr : slot.engines.last();
        if (slot.profile)
            slot.profile->setUrlRequestInterceptor(slot.installed ? slot.installed->m_interceptor
                                                                  : nullptr);
    }
    registry.removeIf([](const ProfileSlot &slot) { return !slot.profile || slot.engines.isEmpty(); });
}

QJsonObject PrivacyEngine::getPrivacyStats() const
{
    const int interceptedAds = m_interceptor ? m_interceptor->blockedAdsCount() : 0;
    const int interceptedTrackers = m_interceptor ? m_interceptor->blockedTrackersCount() : 0;
    return QJsonObject{
        {QStringLiteral("adsBlocked"), adsBlocked + interceptedAds},
        {QStringLiteral("trackersBlocked"), trackersBlocked + interceptedTrackers},
        {QStringLiteral("cookiesBlocked"), cookiesBlocked},
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

// The observers fall back to the document itself: at document creation there
// is neither a body nor a root element yet to observe.
QString PrivacyEngine::getAdBlockingJS() const
{
    return QStringLiteral(R"JS((function () {
    'use strict';
    const adPatterns = [%1];
    // One compiled alternation instead of a scan per pattern: every element
    // of the page passes through here while it is parsed.
    const adExpression = new RegExp(adPatterns.map(function (pattern) {
        return pattern.replace(/[.*+?^${}()|[\]\\\/]/g, '\\$&');
    }).join('|'));

    function matchesAny(text) {
        return adExpression.test(text);
    }

    function attributeMatches(value) {
        return !!value && matchesAny(String(value).toLowerCase());
    }

    // No pattern holds a blank, so testing the values one by one finds what
    // testing them joined by blanks would.
    function isAdElement(element) {
        if (!element)
            return false;
        return attributeMatches(element.className) || attributeMatches(element.id)
            || attributeMatches(element.src) || attributeMatches(element.href);
    }

    function removeAds() {
        document.querySelectorAll('*').forEach(function (element) {
            if (isAdElement(element)) {
                if (element.style) {
                    element.style.display = 'none';
                    element.style.visibility = 'hidden';
                }
                element.remove();
            }
        });
        document.querySelectorAll('iframe').forEach(function (frame) {
            if (matchesAny(frame.src || ''))
                frame.remove();
        });
    }

    removeAds();
    if (document.readyState === 'loading')
        document.addEventListener('DOMContentLoaded', removeAds);

    const observer = new MutationObserver(function (mutations) {
        mutations.forEach(function (mutation) {
            mutation.addedNodes.forEach(function (node) {
                if (node.nodeType === 1 && isAdElement(node))
                    node.remove();
            });
        });
    });
    observer.observe(document.body || document.documentElement || document,
                     { childList: true, subtree: true });

    const savedFetch = window.fetch;
    window.fetch = function (...args) {
        if (typeof args[0] === 'string' && matchesAny(args[0]))
            return Promise.resolve(new Response('', { status: 200 }));
        return savedFetch.apply(window, args);
    };
})();)JS").arg(jsArray(adPatterns));
}

QString PrivacyEngine::getTrackingProtectionJS() const
{
    return QStringLiteral(R"JS((function () {
    'use strict';
    const trackingDomains = [%1];

    function isTrackingDomain(url) {
        if (!url)
            return false;
        const lower = String(url).toLowerCase();
        return trackingDomains.some(function (domain) { return lower.indexOf(domain) !== -1; });
    }

    function blockTracking() {
        ['script', 'img', 'iframe'].forEach(function (tag) {
            Array.from(document.getElementsByTagName(tag)).forEach(function (element) {
                if (element.src && isTrackingDomain(element.src))
                    element.remove();
            });
        });
    }

    blockTracking();

    const observer = new MutationObserver(function (mutations) {
        mutations.forEach(function (mutation) {
            mutation.addedNodes.forEach(function (node) {
                if (node.nodeType === 1
                        && (node.tagName === 'SCRIPT' || node.tagName === 'IMG' || node.tagName === 'IFRAME')
                        && node.src && isTrackingDomain(node.src))
                    node.remove();
            });
        });
    });
    observer.observe(document.body || document.documentElement || document,
                     { childList: true, subtree: true });

    const savedFetch = window.fetch;
    window.fetch = function (...args) {
        if (typeof args[0] === 'string' && isTrackingDomain(args[0]))
            return Promise.reject(new Error('Tracking blocked'));
        return savedFetch.apply(window, args);
    };
})();)JS").arg(jsArray(trackerDomains));
}

// An empty canvas is left alone: reading its pixels would throw.
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
    // Canvas read-backs (toDataURL, toBlob, getImageData) change by one step
    // in one colour channel of most opaque pixels, chosen from a key of this
    // run of the browser, the site, and each pixel's place and colour. The
    // same canvas reads the same all session long, so a page can't average
    // the change away; another session or another site reads differently.
    // The page's own canvas is never changed: toDataURL and toBlob work on a
    // copy, getImageData on the data it returns.
    return QStringLiteral(R"JS((function () {
    'use strict';
    const sessionKey = '%1';
    const savedToDataURL = HTMLCanvasElement.prototype.toDataURL;
    const savedToBlob = HTMLCanvasElement.prototype.toBlob;
    const context2d = CanvasRenderingContext2D.prototype;
    const savedGetImageData = context2d.getImageData;
    const savedPutImageData = context2d.putImageData;
    const savedDrawImage = context2d.drawImage;
    const savedCreateElement = Document.prototype.createElement;

    let siteSeed = 0x811c9dc5;
    const site = sessionKey + '|' + location.hostname;
    for (let i = 0; i < site.length; ++i)
        siteSeed = Math.imul(siteSeed ^ site.charCodeAt(i), 0x01000193);

    function mix(h, value) {
        h = Math.imul(h ^ value, 0x5bd1e995);
        return h ^ (h >>> 15);
    }

    // left, top: where the data sits in the canvas.
    function disguise(imageData, left, top) {
        const data = imageData.data, width = imageData.width;
        for (let i = 0; i < data.length; i += 4) {
            // Only opaque pixels: the others would lose the step to premultiplied alpha.
            if (data[i + 3] !== 255)
                continue;
            const p = i >> 2;
            let h = mix(mix(mix(siteSeed, left + p % width), top + Math.floor(p / width)),
                        (data[i] << 16) | (data[i + 1] << 8) | data[i + 2]);
            h = Math.imul(h ^ (h >>> 13), 0xc2b2ae35) >>> 0;
            if ((h & 3) === 0)
                continue;
            const step = (h & 4) ? 1 : -1;
            const at = i + (h >>> 3) % 3;
            const moved = data[at] + step;
            data[at] = moved < 0 || moved > 255 ? data[at] - step : moved;
        }
        return imageData;
    }

    // Null when the canvas is empty or can't be read (cross-origin content):
    // the page's call then runs on the canvas itself and fails as it would.
    function disguisedCopy(canvas) {
        const width = canvas.width, height = canvas.height;
        if (!width || !height)
            return null;
        try {
            const copy = savedCreateElement.call(document, 'canvas');
            copy.width = width;
            copy.height = height;
            const context = copy.getContext('2d');
            savedDrawImage.call(context, canvas, 0, 0);
            savedPutImageData.call(context, disguise(savedGetImageData.call(context, 0, 0, width, height), 0, 0), 0, 0);
            return copy;
        } catch (e) {
            return null;
        }
    }

    HTMLCanvasElement.prototype.toDataURL = function () {
        return savedToDataURL.apply(disguisedCopy(this) || this, arguments);
    };
    HTMLCanvasElement.prototype.toBlob = function () {
        return savedToBlob.apply(disguisedCopy(this) || this, arguments);
    };
    context2d.getImageData = function (sx, sy, sw, sh) {
        const imageData = savedGetImageData.apply(this, arguments);
        // A negative width or height reads towards the left or top.
        return disguise(imageData, Math.floor(sw < 0 ? sx + sw : sx), Math.floor(sh < 0 ? sy + sh : sy));
    };

    if (window.WebGLRenderingContext) {
        const savedGetParameter = WebGLRenderingContext.prototype.getParameter;
        WebGLRenderingContext.prototype.getParameter = function (parameter) {
            if (parameter === 37445)
                return 'Intel Inc.';
            if (parameter === 37446)
                return 'Intel Iris OpenGL Engine';
            return savedGetParameter.call(this, parameter);
        };
    }

    Object.defineProperty(window.screen, 'width', { get: function () { return 1920; }, configurable: true });
    Object.defineProperty(window.screen, 'height', { get: function () { return 1080; }, configurable: true });
    Object.defineProperty(navigator, 'platform', { get: function () { return 'Linux x86_64'; }, configurable: true });
    Object.defineProperty(navigator, 'hardwareConcurrency', { get: function () { return 4; }, configurable: true });

    if (window.RTCPeerConnection) {
        window.RTCPeerConnection = function () {
            throw new Error('WebRTC blocked');
        };
    }

    if (navigator.getBattery) {
        navigator.getBattery = function () {
            return Promise.resolve({ charging: true, chargingTime: 0, dischargingTime: Infinity, level: 1 });
        };
    }

    if (navigator.permissions) {
        const savedQuery = navigator.permissions.query.bind(navigator.permissions);
        const denied = ['notifications', 'geolocation', 'camera', 'microphone'];
        navigator.permissions.query = function (descriptor) {
            if (descriptor && denied.indexOf(descriptor.name) !== -1)
                return Promise.resolve({ state: 'denied' });
            return savedQuery(descriptor);
        };
    }
})();)JS").arg(QString::fromLatin1(fingerprintSessionKey().toHex()));
}

// Storage may be unavailable (opaque origins, storage switched off): the
// session storage hook is then skipped instead of failing the whole script.
QString PrivacyEngine::getCookieBlockingJS() const
{
    return QStringLiteral(R"JS((function () {
    'use strict';
    const trackingDomains = [%1];
    const BLOCK_ALL_COOKIES = %2;

    function isTrackingDomain(domain) {
        if (!domain)
            return false;
        const lower = String(domain).toLowerCase();
        return trackingDomains.some(function (entry) { return lower.indexOf(entry) !== -1; });
    }

    const descriptor = Object.getOwnPropertyDescriptor(Document.prototype, 'cookie')
        || Object.getOwnPropertyDescriptor(HTMLDocument.prototype, 'cookie');
    if (descriptor && descriptor.set) {
        Object.defineProperty(Document.prototype, 'cookie', {
            configurable: true,
            get: function () {
                if (BLOCK_ALL_COOKIES)
                    return '';
                const cookies = descriptor.get.call(this);
                return cookies.split(';').filter(function (cookie) {
                    return !isTrackingDomain(cookie);
                }).join(';');
            },
            set: function (value) {
                if (BLOCK_ALL_COOKIES || isTrackingDomain(value))
                    return;
                descriptor.set.call(this, value);
            }
        });
    }

    function dropped(key, value) {
        return BLOCK_ALL_COOKIES || isTrackingDomain(key) || isTrackingDomain(value);
    }

    const savedSetItem = Storage.prototype.setItem;
    Storage.prototype.setItem = function (key, value) {
        if (dropped(key, value))
            return;
        return savedSetItem.call(this, key, value);
    };

    try {
        const storage = window.sessionStorage;
        if (storage) {
            const savedSessionSetItem = storage.setItem;
            storage.setItem = function (key, value) {
                if (dropped(key, value))
                    return;
                return savedSessionSetItem.call(storage, key, value);
            };
        }
    } catch (e) {
    }
})();)JS").arg(jsArray(trackerDomains),
              blockAllCookies ? QStringLiteral("true") : QStringLiteral("false"));
}

QString PrivacyEngine::getFontBlockingCSS() const
{
    return QStringLiteral(R"CSS(@font-face {
    font-family: 'blocked' !important;
}
* {
    font-family: -apple-system, BlinkMacSystemFont, 'Segoe UI', sans-serif !important;
}
)CSS");
}
