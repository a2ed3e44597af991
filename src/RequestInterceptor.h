#pragma once

#include <QMutex>
#include <QSet>
#include <QStringList>
#include <QStringView>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>

// Network-level blocker installed on a web profile: adds the privacy headers
// and cancels requests to known ad and tracking hosts. Runs on the GUI thread
// for every request of every tab, so the decision path avoids allocations.
class RequestInterceptor : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT
public:
    enum class Verdict { Pass, BlockAd, BlockTracker };

    // Most distinct blocked hosts remembered for the statistics.
    static constexpr int MaxRecordedHosts = 1000;

    explicit RequestInterceptor(QObject *parent = nullptr);

    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

    bool isAd(const QUrl &url) const;
    bool isTracker(const QUrl &url) const;
    // What interceptRequest does with the URL under the current switches;
    // an ad that is also a tracker counts as an ad.
    Verdict decide(const QUrl &url) const;

    void setAdBlockingEnabled(bool enabled);
    void setTrackingProtectionEnabled(bool enabled);
    bool isAdBlockingEnabled() const { return adBlockingEnabled; }
    bool isTrackingProtectionEnabled() const { return trackingProtectionEnabled; }

    // Counts a blocked request and remembers its host (interceptRequest's
    // bookkeeping once it has blocked).
    void countBlocked(Verdict verdict, const QUrl &url);

    int blockedAdsCount() const;
    int blockedTrackersCount() const;
    // Distinct hosts of blocked requests (at most MaxRecordedHosts).
    QStringList blockedHosts() const;
    void resetCounters();

    const QStringList &adDomainList() const { return adDomains; }
    const QStringList &trackerDomainList() const { return trackerDomains; }

    // Whether host is one of the suffixes or a subdomain of one (a match
    // ends at a label boundary), ASCII case-insensitive.
    static bool hostEndsWithAny(QStringView host, const QStringList &suffixes);
    // True when the path holds "/ads/" or "/adserver/" in any case.
    static bool pathLooksLikeAd(QStringView path);

private:
    bool adBlockingEnabled = true;
    bool trackingProtectionEnabled = true;
    QStringList adDomains;
    QStringList trackerDomains;
    mutable QMutex mutex;
    int blockedAds = 0;
    int blockedTrackers = 0;
    QSet<QString> hosts;
};
