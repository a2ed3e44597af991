#include "PrivacyEngine.h"
#include "RequestInterceptor.h"

#include <QtTest>

using Verdict = RequestInterceptor::Verdict;
using Decision = PrivacyEngine::PermissionDecision;
using Feature = QWebEnginePage::Feature;
Q_DECLARE_METATYPE(RequestInterceptor::Verdict)
Q_DECLARE_METATYPE(PrivacyEngine::PermissionDecision)
Q_DECLARE_METATYPE(QWebEnginePage::Feature)

class TestInterceptor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void verdict_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("adOn");
        QTest::addColumn<bool>("trackOn");
        QTest::addColumn<Verdict>("expected");
        const auto row = [](const char *name, const char *url, Verdict v, bool adOn = true, bool trackOn = true) {
            QTest::newRow(name) << QString::fromLatin1(url) << adOn << trackOn << v;
        };
        row("ad host", "https://doubleclick.net/x.js", Verdict::BlockAd);
        row("subdomain of an ad host", "https://static.criteo.com/js/ld.js", Verdict::BlockAd);
        row("listed host itself", "https://criteo.com/", Verdict::BlockAd);
        row("upper-case host", "https://STATIC.Criteo.COM/x.js", Verdict::BlockAd);
        row("name ending in an ad host", "https://notcriteo.com/x.js", Verdict::Pass);
        row("name ending in a tracker host", "https://myhotjar.com/x.js", Verdict::Pass);
        row("ad host with a final dot", "https://static.criteo.com./x.js", Verdict::BlockAd);
        row("listed host as a label inside", "https://criteo.com.example.org/x.js", Verdict::Pass);
        row("ads path on any host", "http://127.0.0.1:8080/img/ads/banner.png", Verdict::BlockAd);
        row("adserver path, any case", "https://cdn.example.org/AdServer/serve.js", Verdict::BlockAd);
        row("percent-encoded ads path", "https://example.org/%61ds/x.gif", Verdict::BlockAd);
        row("ads without trailing slash", "https://example.org/ads", Verdict::Pass);
        row("domain inside the path", "https://example.org/doubleclick.net", Verdict::Pass);
        row("tracker host", "https://www.google-analytics.com/analytics.js", Verdict::BlockTracker);
        row("ad path wins over tracker host", "https://www.google-analytics.com/ads/collect", Verdict::BlockAd);
        row("ad off: ad+tracker counts as tracker", "https://www.google-analytics.com/ads/collect", Verdict::BlockTracker, false);
        row("tracking off: tracker passes", "https://www.google-analytics.com/analytics.js", Verdict::Pass, true, false);
    }
    void verdict()
    {
        QFETCH(QString, url);
        QFETCH(bool, adOn);
        QFETCH(bool, trackOn);
        RequestInterceptor interceptor;
        interceptor.setAdBlockingEnabled(adOn);
        interceptor.setTrackingProtectionEnabled(trackOn);
        QTEST(interceptor.decide(QUrl(url)), "expected");
    }

    // blocked: the switches that are on, of camera (c), microphone (m),
    // geolocation (g) and notifications (n).
    void permissionDecision_data()
    {
        QTest::addColumn<Feature>("feature");
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<Decision>("expected");
        QTest::newRow("geolocation blocked") << QWebEnginePage::Geolocation << "g" << Decision::Deny;
        QTest::newRow("notifications allowed") << QWebEnginePage::Notifications << "cmg" << Decision::Ask;
        QTest::newRow("camera+mic, camera blocked") << QWebEnginePage::MediaAudioVideoCapture << "c" << Decision::Deny;
    }
    void permissionDecision()
    {
        QFETCH(Feature, feature);
        QFETCH(QString, blocked);
        const auto on = [&](char c) { return blocked.contains(QLatin1Char(c)); };
        QTEST(PrivacyEngine::permissionDecision(feature, on('c'), on('m'), on('g'), on('n')), "expected");
    }
};

QTEST_GUILESS_MAIN(TestInterceptor)
#include "tst_interceptor.moc"
