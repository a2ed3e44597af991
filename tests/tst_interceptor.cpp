#include "PrivacyEngine.h"
#include "RequestInterceptor.h"

#include <QtTest>

using Verdict = RequestInterceptor::Verdict;
using Decision = PrivacyEngine::PermissionDecision;
using Feature = QWebEnginePage::Feature;
Q_DECLARE_METATYPE(RequestInterceptor::Verdict)
Q_DECLARE_METATYPE(PrivacyEngine::PermissionDecision)
Q_DECLARE_METATYPE(QWebEnginePage::Feature)

// The decision cost is measured by bench/ (BM_InterceptorDecide).
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
        row("ads path on any host", "http://127.0.0.1:8080/img/ads/banner.png", Verdict::BlockAd);
        row("percent-encoded ads path", "https://example.org/%61ds/x.gif", Verdict::BlockAd);
        row("ad path wins over tracker host", "https://www.google-analytics.com/ads/collect", Verdict::BlockAd);
        row("tracker host", "https://www.google-analytics.com/analytics.js", Verdict::BlockTracker);
        row("tracker entry with path never matches", "https://facebook.com/tr/?id=1", Verdict::Pass);
        row("ads without trailing slash", "https://example.org/ads", Verdict::Pass);
        row("domain inside the path", "https://example.org/doubleclick.net", Verdict::Pass);
        row("ad off: ad host passes", "https://doubleclick.net/x", Verdict::Pass, false);
        row("ad off: ad+tracker counts as tracker", "https://www.google-analytics.com/ads/collect", Verdict::BlockTracker, false);
        row("tracking off: tracker passes", "https://www.google-analytics.com/analytics.js", Verdict::Pass, true, false);
        row("tracking off: ad still blocked", "https://criteo.com/x", Verdict::BlockAd, true, false);
        row("both off", "https://doubleclick.net/ads/x", Verdict::Pass, false, false);
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

    void countingAndStatistics()
    {
        PrivacyEngine engine;
        RequestInterceptor *interceptor = engine.interceptor();
        interceptor->countBlocked(Verdict::BlockAd, QUrl("https://ad.doubleclick.net/a"));
        interceptor->countBlocked(Verdict::BlockAd, QUrl("https://AD.doubleclick.net/b"));
        interceptor->countBlocked(Verdict::BlockTracker, QUrl("https://www.hotjar.com/c"));
        interceptor->countBlocked(Verdict::Pass, QUrl("https://example.org/"));
        QCOMPARE(engine.getPrivacyStats(), QJsonObject({{"adsBlocked", 2}, {"trackersBlocked", 1}, {"cookiesBlocked", 0},
                                                        {"requestsBlocked", 3}, {"domainsBlocked", 2}}));
        // The host set is bounded; counting goes on past the bound.
        for (int i = 0; i < RequestInterceptor::MaxRecordedHosts + 50; ++i)
            interceptor->countBlocked(Verdict::BlockAd, QUrl(QStringLiteral("https://h%1.criteo.com/").arg(i)));
        QCOMPARE(interceptor->blockedHosts().size(), RequestInterceptor::MaxRecordedHosts);
        QCOMPARE(interceptor->blockedAdsCount(), 2 + RequestInterceptor::MaxRecordedHosts + 50);
        engine.resetStats();
        QCOMPARE(engine.getPrivacyStats(), QJsonObject({{"adsBlocked", 0}, {"trackersBlocked", 0}, {"cookiesBlocked", 0},
                                                        {"requestsBlocked", 0}, {"domainsBlocked", 0}}));
    }

    void storedSettings_data()
    {
        QTest::addColumn<QJsonObject>("stored");
        QTest::addColumn<QStringList>("expectedOff");
        QTest::newRow("two off") << QJsonObject{{"adBlocking", false}, {"blockCamera", false}}
                                 << QStringList{"adBlocking", "blockCamera"};
        QTest::newRow("non-bool counts as on") << QJsonObject{{"trackingProtection", "false"}, {"blockFonts", 0}} << QStringList();
        QJsonObject allOff{{"theme", "dark"}};
        for (const QString &key : PrivacyEngine::settingsKeys())
            allOff.insert(key, false);
        QTest::newRow("all off, extra key ignored") << allOff << PrivacyEngine::settingsKeys();
    }
    void storedSettings()
    {
        QFETCH(QJsonObject, stored);
        QFETCH(QStringList, expectedOff);
        PrivacyEngine engine;
        engine.setAdBlocking(false); // earlier state is replaced, not merged
        engine.applySettings(stored);
        const QJsonObject now = engine.getPrivacySettings();
        for (const QString &key : PrivacyEngine::settingsKeys())
            QCOMPARE(now.value(key).toBool(), !expectedOff.contains(key));
        QCOMPARE(engine.interceptor()->isAdBlockingEnabled(), !expectedOff.contains("adBlocking"));
    }

    // blocked: the switches that are on, of camera (c), microphone (m),
    // geolocation (g) and notifications (n).
    void permissionDecision_data()
    {
        QTest::addColumn<Feature>("feature");
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<Decision>("expected");
        QTest::addColumn<QString>("question");
        using P = QWebEnginePage;
        QTest::newRow("mic blocked") << P::MediaAudioCapture << "m" << Decision::Deny << "use your microphone?";
        QTest::newRow("camera blocked") << P::MediaVideoCapture << "c" << Decision::Deny << "use your camera?";
        QTest::newRow("av: camera blocked") << P::MediaAudioVideoCapture << "c" << Decision::Deny << "";
        QTest::newRow("av: both allowed") << P::MediaAudioVideoCapture << "gn" << Decision::Ask << "use your camera and microphone?";
        QTest::newRow("geolocation blocked") << P::Geolocation << "g" << Decision::Deny << "know your location?";
        QTest::newRow("notifications blocked") << P::Notifications << "n" << Decision::Deny << "show notifications?";
        QTest::newRow("notifications allowed") << P::Notifications << "cmg" << Decision::Ask << "";
        QTest::newRow("mouse lock left alone") << P::MouseLock << "cmgn" << Decision::Default << "";
    }
    void permissionDecision()
    {
        QFETCH(Feature, feature);
        QFETCH(QString, blocked);
        QFETCH(QString, question);
        QTEST(PrivacyEngine::permissionDecision(feature, blocked.contains('c'), blocked.contains('m'), blocked.contains('g'),
                                                blocked.contains('n')),
              "expected");
        if (!question.isEmpty())
            QCOMPARE(PrivacyEngine::permissionQuestion("maps.example", feature), "Allow maps.example to " + question);
    }
};

QTEST_GUILESS_MAIN(TestInterceptor)
#include "tst_interceptor.moc"
