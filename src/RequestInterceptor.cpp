#include "RequestInterceptor.h"

#include "ActiveFilters.h"
#include "ProfileProtection.h"
#include "PublicSuffix.h"
#include "VpnGate.h"

#include <QMutexLocker>
#include <QWebEngineUrlRequestInfo>

RequestInterceptor::RequestInterceptor(QObject *parent, ProfileProtection *profile)
    : QWebEngineUrlRequestInterceptor(parent)
    , adDomains{
          QStringLiteral("doubleclick.net"),
          QStringLiteral("googlesyndication.com"),
          QStringLiteral("googleadservices.com"),
          QStringLiteral("adservice.google.com"),
          QStringLiteral("pagead2.googlesyndication.com"),
          QStringLiteral("ads.google.com"),
          QStringLiteral("ad.doubleclick.net"),
          QStringLiteral("adnxs.com"),
          QStringLiteral("rubiconproject.com"),
          QStringLiteral("criteo.com"),
          QStringLiteral("outbrain.com"),
          QStringLiteral("taboola.com"),
          QStringLiteral("pubmatic.com"),
          QStringLiteral("adsrvr.org"),
          QStringLiteral("moatads.com"),
          QStringLiteral("serving-sys.com"),
      }
    , trackerDomains{
          QStringLiteral("google-analytics.com"),
          QStringLiteral("googletagmanager.com"),
          QStringLiteral("analytics.google.com"),
          QStringLiteral("facebook.com/tr"),
          QStringLiteral("connect.facebook.net"),
          QStringLiteral("scorecardresearch.com"),
          QStringLiteral("quantserve.com"),
          QStringLiteral("chartbeat.com"),
          QStringLiteral("hotjar.com"),
          QStringLiteral("nr-data.net"),
          QStringLiteral("mixpanel.com"),
          QStringLiteral("segment.com"),
          QStringLiteral("segment.io"),
          QStringLiteral("crazyegg.com"),
      }
    , m_profile(profile)
{
}

bool RequestInterceptor::hostEndsWithAny(QStringView host, const QStringList &suffixes)
{
    // "criteo.com." names the same host as "criteo.com".
    if (host.endsWith(u'.'))
        host.chop(1);
    for (const QString &suffix : suffixes) {
        if (!host.endsWith(suffix, Qt::CaseInsensitive))
            continue;
        // Only whole labels: criteo.com covers static.criteo.com, not notcriteo.com.
        const qsizetype rest = host.size() - suffix.size();
        if (rest == 0 || host[rest - 1] == u'.')
            return true;
    }
    return false;
}

bool RequestInterceptor::pathLooksLikeAd(QStringView path)
{
    return path.contains(u"/ads/", Qt::CaseInsensitive)
        || path.contains(u"/adserver/", Qt::CaseInsensitive);
}

bool RequestInterceptor::encodedPathLooksLikeAd(QByteArrayView url)
{
    qsizetype begin = url.indexOf("://");
    if (begin < 0)
        return false;
    begin = url.indexOf('/', begin + 3);
    if (begin < 0)
        return false;
    qsizetype end = begin;
    while (end < url.size() && url[end] != '?' && url[end] != '#')
        ++end;
    QVarLengthArray<char, 1024> path;
    for (qsizetype i = begin; i < end; ++i) {
        char c = url[i];
        if (c == '%' && i + 2 < end && isxdigit(uchar(url[i + 1])) && isxdigit(uchar(url[i + 2]))) {
            c = char(QByteArray::fromHex(QByteArray::fromRawData(url.data() + i + 1, 2)).at(0));
            i += 2;
        }
        path.append(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
    }
    const QByteArrayView decoded(path.constData(), path.size());
    return decoded.contains("/ads/") || decoded.contains("/adserver/");
}

// QUrl::host() hands out its stored string (shared, no copy); the path has to
// be decoded, so it is only built when the host did not already decide.
bool RequestInterceptor::isAd(const QUrl &url) const
{
    if (hostEndsWithAny(url.host(QUrl::FullyDecoded), adDomains))
        return true;
    return pathLooksLikeAd(url.path(QUrl::FullyDecoded));
}

bool RequestInterceptor::isTracker(const QUrl &url) const
{
    return hostEndsWithAny(url.host(QUrl::FullyDecoded), trackerDomains);
}

RequestInterceptor::Verdict RequestInterceptor::decide(const QUrl &url, QByteArrayView encoded) const
{
    if (adBlockingEnabled) {
        if (hostEndsWithAny(url.host(QUrl::FullyDecoded), adDomains))
            return Verdict::BlockAd;
        if (encoded.isEmpty() ? pathLooksLikeAd(url.path(QUrl::FullyDecoded)) : encodedPathLooksLikeAd(encoded))
            return Verdict::BlockAd;
    }
    if (trackingProtectionEnabled && isTracker(url))
        return Verdict::BlockTracker;
    return Verdict::Pass;
}

RequestInterceptor::Verdict RequestInterceptor::categoryOfList(QStringView listName)
{
    return listName.contains(u"privacy", Qt::CaseInsensitive) ? Verdict::BlockTracker : Verdict::BlockAd;
}

QString RequestInterceptor::describe(const Outcome &outcome, const FilterEngine *engine)
{
    if (outcome.builtin)
        return outcome.verdict == Verdict::BlockTracker ? tr("Built-in tracker list") : tr("Built-in ad list");
    if (!engine || outcome.rule < 0)
        return {};
    return engine->ruleList(outcome.rule) + QStringLiteral(": ") + engine->ruleText(outcome.rule);
}

void RequestInterceptor::refreshFilters()
{
    const quint64 generation = ActiveFilters::generation();
    if (generation == m_generation)
        return;
    m_generation = generation;
    m_engine = ActiveFilters::engine();
    m_top.valid = false;
    m_frame.valid = false;
}

const RequestInterceptor::CachedPage &RequestInterceptor::pageFor(CachedPage &slot, const QUrl &url)
{
    if (slot.valid && slot.url == url)
        return slot;
    slot.url = url;
    slot.page = m_engine ? m_engine->page(url) : FilterEngine::Page();
    slot.unprotected = ActiveFilters::isUnprotected(PublicSuffix::site(url));
    slot.valid = true;
    return slot;
}

RequestInterceptor::Outcome RequestInterceptor::evaluate(const QUrl &url, const QUrl &firstParty,
                                                         const QUrl &initiator, int resourceType)
{
    Outcome out;
    refreshFilters();
    const quint32 type = FilterEngine::typeFromResourceType(resourceType);
    // A main frame is its own page; anything else is decided for the frame
    // that asked (its origin), within the page it belongs to.
    const bool document = type == FilterRule::Document;
    const CachedPage &top = pageFor(m_top, document ? url : firstParty);
    if (top.unprotected) {
        out.unprotectedSite = true;
        return out;
    }
    if (!adBlockingEnabled && !trackingProtectionEnabled)
        return out;

    const FilterEngine *engine = m_engine.get();
    FilterEngine::encodedUrl(url, m_encoded);
    const QByteArrayView encoded(m_encoded);
    qint32 exception = -1;
    const FilterEngine::Page *context = &top.page;
    if (engine) {
        // An opaque origin (a sandboxed frame) comes as an empty address.
        if (!document && !initiator.isEmpty())
            context = &pageFor(m_frame, initiator).page;
        if (top.page.documentAllowed()) {
            out.rule = top.page.documentRule;
            return out;
        }
        const FilterEngine::Decision d = engine->decide(encoded, *context, type);
        if (d.blocked) {
            const Verdict category = categoryOfList(engine->ruleList(d.rule));
            if (category == Verdict::BlockAd ? adBlockingEnabled : trackingProtectionEnabled) {
                out.verdict = category;
                out.rule = d.rule;
                return out;
            }
        } else {
            exception = d.rule;
        }
    }
    const Verdict builtin = decide(url, encoded);
    if (builtin == Verdict::Pass) {
        out.rule = exception;
        return out;
    }
    // The lists keep some requests of listed hosts open on purpose, so that
    // sites work: their exceptions win over the built-in lists.
    if (engine && exception < 0)
        exception = engine->findException(encoded, *context, type);
    if (exception >= 0) {
        out.rule = exception;
        return out;
    }
    out.verdict = builtin;
    out.builtin = true;
    return out;
}

void RequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    const QUrl url = info.requestUrl();
    // The kill switch comes before everything else: while no tunnel is up
    // nothing of any page leaves the machine.
    if (!VpnGate::allows(url)) {
        info.block(true);
        return;
    }
    const QUrl firstParty = info.firstPartyUrl();
    const int type = info.resourceType();
    // The engine asks a page's own interceptor only about requests the
    // profile's left unchanged: those are left to it.
    if (m_profile && m_profile->belongsToPage(firstParty, url, type))
        return;
    if (trackingProtectionEnabled) {
        static const QByteArray one = QByteArrayLiteral("1");
        static const QByteArray dnt = QByteArrayLiteral("DNT");
        static const QByteArray gpc = QByteArrayLiteral("Sec-GPC");
        info.setHttpHeader(dnt, one);
        info.setHttpHeader(gpc, one);
    }
    const Outcome outcome = evaluate(url, firstParty, info.initiator(), type);
    if (!outcome.blocked())
        return;
    info.block(true);
    countBlocked(outcome, url);
}

void RequestInterceptor::countBlocked(Verdict verdict, const QUrl &url)
{
    Outcome outcome;
    outcome.verdict = verdict;
    outcome.builtin = true;
    countBlocked(outcome, url);
}

void RequestInterceptor::countBlocked(const Outcome &outcome, const QUrl &url)
{
    if (!outcome.blocked())
        return;
    const QString host = url.host(QUrl::FullyDecoded).toLower();
    QMutexLocker locker(&mutex);
    if (outcome.verdict == Verdict::BlockAd)
        ++blockedAds;
    else
        ++blockedTrackers;
    if (host.isEmpty())
        return;
    auto it = hosts.find(host);
    if (it == hosts.end()) {
        if (hosts.size() >= MaxRecordedHosts)
            return;
        // What blocked a host first is what the dashboard names.
        it = hosts.insert(host, HostRecord{host, 0, describe(outcome, m_engine.get())});
    }
    ++it->count;
}

void RequestInterceptor::setAdBlockingEnabled(bool enabled)
{
    adBlockingEnabled = enabled;
}

void RequestInterceptor::setTrackingProtectionEnabled(bool enabled)
{
    trackingProtectionEnabled = enabled;
}

int RequestInterceptor::blockedAdsCount() const
{
    QMutexLocker locker(&mutex);
    return blockedAds;
}

int RequestInterceptor::blockedTrackersCount() const
{
    QMutexLocker locker(&mutex);
    return blockedTrackers;
}

QStringList RequestInterceptor::blockedHosts() const
{
    QMutexLocker locker(&mutex);
    QStringList list = hosts.keys();
    locker.unlock();
    list.sort();
    return list;
}

QList<RequestInterceptor::HostRecord> RequestInterceptor::blockedHostRecords() const
{
    QMutexLocker locker(&mutex);
    QList<HostRecord> list = hosts.values();
    locker.unlock();
    std::sort(list.begin(), list.end(), [](const HostRecord &a, const HostRecord &b) { return a.host < b.host; });
    return list;
}

void RequestInterceptor::resetCounters()
{
    QMutexLocker locker(&mutex);
    blockedAds = 0;
    blockedTrackers = 0;
    hosts.clear();
}
