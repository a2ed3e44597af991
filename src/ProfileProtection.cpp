#include "ProfileProtection.h"

#include "ActiveFilters.h"
#include "ProtectionScript.h"

#include "PublicSuffix.h"
#include "RequestInterceptor.h"
#include "ServiceEndpoints.h"
#include "VpnGate.h"

#include <QThread>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInfo>

namespace {
// Worker scripts remembered to tell their requests from a page's.
constexpr int MaxWorkerScripts = 256;
// Sites whose blocked cookies are counted.
constexpr int MaxCountedSites = 1000;
}

// Shared with the cookie filter, which runs on the IO thread and may outlive
// this object by a call or two.
struct ProfileProtection::CookieState {
    std::atomic<bool> blockThirdParty{true};
    std::atomic<bool> blockAll{true};
    mutable QMutex mutex; // guards what follows
    QUrl account;
    QHash<QString, int> blockedPerSite;
    int blocked = 0;
};

ProfileProtection *ProfileProtection::of(QWebEngineProfile *profile)
{
    if (!profile)
        return nullptr;
    if (auto *existing = profile->findChild<ProfileProtection *>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    return new ProfileProtection(profile);
}

ProfileProtection::ProfileProtection(QWebEngineProfile *profile)
    : QObject(profile)
    , m_profile(profile)
    , m_interceptor(new RequestInterceptor(this, this))
    , m_cookies(std::make_shared<CookieState>())
{
    refreshAccount();
    profile->setUrlRequestInterceptor(m_interceptor);
    // The lists' generic hiding data, shared by every page of the profile.
    ProtectionScript::installGeneric(profile);
    connect(ActiveFilters::instance(), &ActiveFilters::engineChanged, this,
            [this] { ProtectionScript::installGeneric(m_profile); });
    const std::shared_ptr<CookieState> state = m_cookies;
    QThread *const networkThread = thread();
    profile->cookieStore()->setCookieFilter([state, networkThread](const QWebEngineCookieStore::FilterRequest &request) {
        // The engine asks on the GUI thread about the cookies of requests and
        // responses, and on its IO thread about what scripts do (storage,
        // document.cookie).
        const Access access = QThread::currentThread() == networkThread ? Access::Network : Access::Script;
        QUrl account;
        {
            QMutexLocker locker(&state->mutex);
            account = state->account;
        }
        const bool allowed = cookieAllowed(request.firstPartyUrl, request.origin, access,
                                           state->blockThirdParty.load(std::memory_order_relaxed),
                                           state->blockAll.load(std::memory_order_relaxed), account);
        if (allowed)
            return true;
        const QString site = PublicSuffix::site(request.firstPartyUrl.isEmpty() ? request.origin : request.firstPartyUrl);
        QMutexLocker locker(&state->mutex);
        ++state->blocked;
        auto it = state->blockedPerSite.find(site);
        if (it != state->blockedPerSite.end())
            ++*it;
        else if (state->blockedPerSite.size() < MaxCountedSites)
            state->blockedPerSite.insert(site, 1);
        return false;
    });
}

ProfileProtection::~ProfileProtection()
{
    // The profile dies with us (we are its child) or lives on without us.
    if (m_profile) {
        m_profile->setUrlRequestInterceptor(nullptr);
        m_profile->cookieStore()->setCookieFilter(nullptr);
    }
}

bool ProfileProtection::cookieAllowed(const QUrl &firstParty, const QUrl &origin, Access access,
                                      bool blockThirdParty, bool blockAll, const QUrl &account)
{
    // Signing in to the account (its pages open in a tab) needs its cookies.
    if (account.isValid() && !account.host().isEmpty() && VpnGate::sameOrigin(origin, account))
        return true;
    // Every cookie of a request or response, while all are blocked.
    if (blockAll && access == Access::Network)
        return false;
    if (!blockThirdParty && !blockAll)
        return true;
    // A context without a site (a cross-site frame's) is no first party.
    const QString mine = PublicSuffix::site(origin);
    return !firstParty.isEmpty() && !mine.isEmpty() && mine == PublicSuffix::site(firstParty);
}

void ProfileProtection::setBlockingSwitches(bool adBlocking, bool trackingProtection)
{
    m_interceptor->setAdBlockingEnabled(adBlocking);
    m_interceptor->setTrackingProtectionEnabled(trackingProtection);
}

void ProfileProtection::setCookieSwitches(bool blockThirdParty, bool blockAll)
{
    m_cookies->blockThirdParty.store(blockThirdParty, std::memory_order_relaxed);
    m_cookies->blockAll.store(blockAll, std::memory_order_relaxed);
}

bool ProfileProtection::blocksThirdPartyCookies() const
{
    return m_cookies->blockThirdParty.load(std::memory_order_relaxed);
}

bool ProfileProtection::blocksAllCookies() const
{
    return m_cookies->blockAll.load(std::memory_order_relaxed);
}

int ProfileProtection::cookiesBlocked(const QString &site) const
{
    QMutexLocker locker(&m_cookies->mutex);
    return m_cookies->blockedPerSite.value(site);
}

int ProfileProtection::cookiesBlocked() const
{
    QMutexLocker locker(&m_cookies->mutex);
    return m_cookies->blocked;
}

void ProfileProtection::refreshAccount()
{
    const QUrl account(ServiceEndpoints::accountUrl());
    QMutexLocker locker(&m_cookies->mutex);
    m_cookies->account = account;
}

void ProfileProtection::addPage(QWebEnginePage *page)
{
    // The account service's address is fixed for a run but for tests and
    // demos: each new page picks it up.
    refreshAccount();
    if (!page || m_pageUrls.contains(page))
        return;
    m_pageUrls.insert(page, {});
    setPageUrls(page, {page->url()});
    connect(page, &QWebEnginePage::urlChanged, this, [this, page](const QUrl &url) {
        if (m_pageUrls.contains(page))
            setPageUrls(page, {url});
    });
    connect(page, &QObject::destroyed, this, [this, page] { removePage(page); });
}

void ProfileProtection::removePage(QWebEnginePage *page)
{
    if (!m_pageUrls.contains(page))
        return;
    setPageUrls(page, {});
    m_pageUrls.remove(page);
    disconnect(page, nullptr, this, nullptr);
}

void ProfileProtection::notePendingUrl(QWebEnginePage *page, const QUrl &url)
{
    if (m_pageUrls.contains(page))
        setPageUrls(page, {page->url(), url});
}

void ProfileProtection::setPageUrls(QWebEnginePage *page, const QList<QUrl> &urls)
{
    QList<QUrl> &known = m_pageUrls[page];
    for (const QUrl &url : std::as_const(known)) {
        auto it = m_urlCount.find(url);
        if (it != m_urlCount.end() && --*it <= 0)
            m_urlCount.erase(it);
    }
    known.clear();
    for (const QUrl &url : urls) {
        if (url.isEmpty() || known.contains(url))
            continue;
        known.append(url);
        ++m_urlCount[url];
    }
}

bool ProfileProtection::belongsToPage(const QUrl &firstParty, const QUrl &url, int resourceType)
{
    if (resourceType == QWebEngineUrlRequestInfo::ResourceTypeServiceWorker
        || resourceType == QWebEngineUrlRequestInfo::ResourceTypeSharedWorker) {
        if (m_workerScripts.size() >= MaxWorkerScripts)
            m_workerScripts.clear();
        m_workerScripts.insert(url);
        return false;
    }
    return !firstParty.isEmpty() && m_urlCount.contains(firstParty) && !m_workerScripts.contains(firstParty);
}
