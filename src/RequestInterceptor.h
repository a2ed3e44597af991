#pragma once

#include "FilterEngine.h"

#include <QHash>
#include <QMutex>
#include <QStringList>
#include <QStringView>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>

#include <memory>

class ProfileProtection;

// The network-level blocker. Every tab installs one on its own page
// (QWebEnginePage::setUrlRequestInterceptor), so its counts are that tab's
// requests; each profile keeps one more for the requests that belong to no
// page (service workers and the like, see ProfileProtection).
//
// For each request, in this order: the VPN kill switch; the DNT and Sec-GPC
// headers; nothing more on a site where the user switched protection off;
// then the filter lists (ActiveFilters), decided with the request's type,
// the page it is for and the frame that asked; then the built-in host lists,
// unless an exception of the filter lists keeps the request open. Until the
// lists are loaded the built-in lists block on their own. Runs on the GUI
// thread for every request, so the path allocates little: the page context
// is worked out once per page and reused.
class RequestInterceptor : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT
public:
    enum class Verdict { Pass, BlockAd, BlockTracker };

    // What decided one request.
    struct Outcome {
        Verdict verdict = Verdict::Pass;
        // The list rule that blocked, or the list exception that kept the
        // request open (a page allow-listed by $document included); -1: none.
        qint32 rule = -1;
        bool builtin = false;         // blocked by the built-in host lists
        bool unprotectedSite = false; // the user switched protection off for the page's site
        bool blocked() const { return verdict != Verdict::Pass; }
    };

    // A blocked host as the dashboard lists it.
    struct HostRecord {
        QString host;
        int count = 0;
        QString blockedBy; // "EasyList: ||ads.example^", "Built-in ad list"
    };

    // Most distinct blocked hosts remembered for the statistics.
    static constexpr int MaxRecordedHosts = 1000;

    // profile: set for the profile-wide interceptor, which leaves the
    // requests of pages with an interceptor of their own to those.
    explicit RequestInterceptor(QObject *parent = nullptr, ProfileProtection *profile = nullptr);

    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

    // The decision interceptRequest makes for a request (after the kill
    // switch), under the current switches and the active filters.
    // firstParty: the page's address; initiator: the origin of the frame or
    // worker that asked (empty for the browser's own navigations);
    // resourceType: a QWebEngineUrlRequestInfo::ResourceType value.
    Outcome evaluate(const QUrl &url, const QUrl &firstParty, const QUrl &initiator, int resourceType);

    // The built-in host lists.
    bool isAd(const QUrl &url) const;
    bool isTracker(const QUrl &url) const;
    // What the built-in lists do with the URL under the current switches;
    // an ad that is also a tracker counts as an ad. With the URL's encoded
    // form at hand its path is read from that.
    Verdict decide(const QUrl &url, QByteArrayView encoded = {}) const;

    void setAdBlockingEnabled(bool enabled);
    void setTrackingProtectionEnabled(bool enabled);
    bool isAdBlockingEnabled() const { return adBlockingEnabled; }
    bool isTrackingProtectionEnabled() const { return trackingProtectionEnabled; }

    // Counts a blocked request and remembers its host with what blocked it
    // (interceptRequest's bookkeeping once it has blocked).
    void countBlocked(Verdict verdict, const QUrl &url);
    void countBlocked(const Outcome &outcome, const QUrl &url);

    int blockedAdsCount() const;
    int blockedTrackersCount() const;
    // Distinct hosts of blocked requests (at most MaxRecordedHosts), sorted.
    QStringList blockedHosts() const;
    // The same with their counts and what blocked them, sorted by host.
    QList<HostRecord> blockedHostRecords() const;
    void resetCounters();

    const QStringList &adDomainList() const { return adDomains; }
    const QStringList &trackerDomainList() const { return trackerDomains; }

    // Whether host is one of the suffixes or a subdomain of one (a match
    // ends at a label boundary), ASCII case-insensitive.
    static bool hostEndsWithAny(QStringView host, const QStringList &suffixes);
    // True when the path holds "/ads/" or "/adserver/" in any case.
    static bool pathLooksLikeAd(QStringView path);
    // The same for the path of an encoded address (as FilterEngine::encodedUrl
    // gives it), decoded on the stack.
    static bool encodedPathLooksLikeAd(QByteArrayView encodedUrl);
    // Which switch a list's rules answer to: EasyPrivacy and other lists
    // named for privacy block trackers, every other list blocks ads.
    static Verdict categoryOfList(QStringView listName);
    // "<list>: <rule>" for a list rule, the built-in list's name otherwise.
    static QString describe(const Outcome &outcome, const FilterEngine *engine);

private:
    // A page as the lists see it, kept while requests keep naming it.
    struct CachedPage {
        QUrl url;
        FilterEngine::Page page;
        bool unprotected = false;
        bool valid = false;
    };
    const CachedPage &pageFor(CachedPage &slot, const QUrl &url);
    void refreshFilters();

    bool adBlockingEnabled = true;
    bool trackingProtectionEnabled = true;
    QStringList adDomains;
    QStringList trackerDomains;
    ProfileProtection *m_profile = nullptr;

    // GUI thread only (interceptRequest, evaluate).
    std::shared_ptr<const FilterEngine> m_engine;
    QByteArray m_encoded; // the request's address, reused from request to request
    quint64 m_generation = 0;
    CachedPage m_top;
    CachedPage m_frame;

    mutable QMutex mutex;
    int blockedAds = 0;
    int blockedTrackers = 0;
    QHash<QString, HostRecord> hosts;
};
