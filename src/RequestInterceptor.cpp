#include "RequestInterceptor.h"

#include "VpnGate.h"

#include <QMutexLocker>
#include <QWebEngineUrlRequestInfo>

RequestInterceptor::RequestInterceptor(QObject *parent)
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

RequestInterceptor::Verdict RequestInterceptor::decide(const QUrl &url) const
{
    if (adBlockingEnabled && isAd(url))
        return Verdict::BlockAd;
    if (trackingProtectionEnabled && isTracker(url))
        return Verdict::BlockTracker;
    return Verdict::Pass;
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
    if (trackingProtectionEnabled) {
        static const QByteArray one = QByteArrayLiteral("1");
        static const QByteArray dnt = QByteArrayLiteral("DNT");
        static const QByteArray gpc = QByteArrayLiteral("Sec-GPC");
        info.setHttpHeader(dnt, one);
        info.setHttpHeader(gpc, one);
    }
    const Verdict verdict = decide(url);
    if (verdict == Verdict::Pass)
        return;
    info.block(true);
    countBlocked(verdict, url);
}

void RequestInterceptor::countBlocked(Verdict verdict, const QUrl &url)
{
    if (verdict == Verdict::Pass)
        return;
    QMutexLocker locker(&mutex);
    if (verdict == Verdict::BlockAd)
        ++blockedAds;
    else
        ++blockedTrackers;
    if (hosts.size() < MaxRecordedHosts) {
        const QString host = url.host(QUrl::FullyDecoded).toLower();
        if (!host.isEmpty())
            hosts.insert(host);
    }
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
    QStringList list(hosts.cbegin(), hosts.cend());
    list.sort();
    return list;
}

void RequestInterceptor::resetCounters()
{
    QMutexLocker locker(&mutex);
    blockedAds = 0;
    blockedTrackers = 0;
    hosts.clear();
}
