#pragma once

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUrl>

#include <atomic>
#include <memory>

class QWebEnginePage;
class QWebEngineProfile;
class RequestInterceptor;

// What privacy protection keeps per web profile (the default one, and the
// off-the-record one of each private window): the profile-wide request
// interceptor and the cookie filter. Made on first use, a child of its
// profile.
//
// The engine asks a profile's interceptor about every request first, and a
// page's own interceptor only about requests the profile's left unchanged.
// So the profile's interceptor leaves alone the requests of the pages that
// have an interceptor of their own (it knows them by their address, which
// the engine hands over as the request's first-party URL) and decides the
// rest itself: service and shared workers, pages without a tab. The kill
// switch it applies to all.
//
// The cookie filter (called on the GUI and the IO thread) blocks cookies of
// other sites than the page's (by registrable domain) while third-party
// cookies are blocked, and every cookie sent or received while all are; the
// account service's own cookies always pass, so signing in works. Blocked
// cookies are counted per site of the page, since the engine does not say
// which tab asked.
class ProfileProtection : public QObject
{
    Q_OBJECT
public:
    static ProfileProtection *of(QWebEngineProfile *profile);
    ~ProfileProtection() override;

    RequestInterceptor *interceptor() const { return m_interceptor; }

    // Pages whose own interceptor decides their requests.
    void addPage(QWebEnginePage *page);
    void removePage(QWebEnginePage *page);
    // The address a page is about to show (the engine names a navigation's
    // requests by it before the page's url() follows).
    void notePendingUrl(QWebEnginePage *page, const QUrl &url);
    // Whether a request with this first-party URL is one of such a page's:
    // never for worker scripts and what workers load (their first-party URL
    // is the worker's script).
    bool belongsToPage(const QUrl &firstParty, const QUrl &url, int resourceType);

    // The ad and tracking switches of the profile-wide interceptor.
    void setBlockingSwitches(bool adBlocking, bool trackingProtection);
    // Cookie switches ("cookieBlocking" blocks third-party cookies,
    // "blockAllCookies" every cookie).
    void setCookieSwitches(bool blockThirdParty, bool blockAll);
    bool blocksThirdPartyCookies() const;
    bool blocksAllCookies() const;

    // Cookies refused while `site` was the page's site (PublicSuffix::site).
    int cookiesBlocked(const QString &site) const;
    int cookiesBlocked() const;

    // Who wants a cookie: a request or response (the Cookie and Set-Cookie
    // headers), or a script (document.cookie, and the page's storage, which
    // the engine lets go with the cookies).
    enum class Access { Network, Script };
    // The cookie filter's decision. firstParty: the page's address (empty
    // for a context of no site); origin: whose cookie; account: the account
    // service, whose cookies always pass. Blocking all cookies refuses every
    // cookie of every request and response; scripts of the page's own site
    // keep their storage (the cookie script empties document.cookie for
    // them), so pages that use it don't break; scripts of other sites get
    // neither.
    static bool cookieAllowed(const QUrl &firstParty, const QUrl &origin, Access access, bool blockThirdParty,
                              bool blockAll, const QUrl &account);

private:
    struct CookieState;
    explicit ProfileProtection(QWebEngineProfile *profile);
    void setPageUrls(QWebEnginePage *page, const QList<QUrl> &urls);
    void refreshAccount();

    QPointer<QWebEngineProfile> m_profile;
    RequestInterceptor *m_interceptor = nullptr;
    std::shared_ptr<CookieState> m_cookies;
    // GUI thread: the addresses each page is known by, and how many pages
    // each address stands for.
    QHash<QWebEnginePage *, QList<QUrl>> m_pageUrls;
    QHash<QUrl, int> m_urlCount;
    QSet<QUrl> m_workerScripts;
};
