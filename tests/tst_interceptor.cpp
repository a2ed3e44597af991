#include "PrivacyEngine.h"
#include "RequestInterceptor.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>

using Verdict = RequestInterceptor::Verdict;
using Decision = PrivacyEngine::PermissionDecision;
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

        const auto both = [](const char *name, const char *url, Verdict v) {
            QTest::newRow(name) << QString::fromLatin1(url) << true << true << v;
        };
        both("ad host", "https://doubleclick.net/x.js", Verdict::BlockAd);
        both("ads path on any host", "http://127.0.0.1:8080/img/ads/banner.png", Verdict::BlockAd);
        both("percent-encoded ads path", "https://example.org/%61ds/x.gif", Verdict::BlockAd);
        both("ad path wins over tracker host", "https://www.google-analytics.com/ads/collect", Verdict::BlockAd);
        both("tracker host", "https://www.google-analytics.com/analytics.js", Verdict::BlockTracker);
        both("tracker entry with path never matches", "https://facebook.com/tr/?id=1", Verdict::Pass);
        both("ads without trailing slash", "https://example.org/ads", Verdict::Pass);
        both("domain inside the path", "https://example.org/doubleclick.net", Verdict::Pass);

        QTest::newRow("ad off: ad host passes") << "https://doubleclick.net/x" << false << true << Verdict::Pass;
        QTest::newRow("ad off: ad+tracker counts as tracker")
            << "https://www.google-analytics.com/ads/collect" << false << true << Verdict::BlockTracker;
        QTest::newRow("tracking off: tracker passes")
            << "https://www.google-analytics.com/analytics.js" << true << false << Verdict::Pass;
        QTest::newRow("tracking off: ad still blocked") << "https://criteo.com/x" << true << false << Verdict::BlockAd;
        QTest::newRow("both off") << "https://doubleclick.net/ads/x" << false << false << Verdict::Pass;
    }
    void verdict()
    {
        QFETCH(QString, url);
        QFETCH(bool, adOn);
        QFETCH(bool, trackOn);
        QFETCH(Verdict, expected);
        RequestInterceptor interceptor;
        interceptor.setAdBlockingEnabled(adOn);
        interceptor.setTrackingProtectionEnabled(trackOn);
        QCOMPARE(interceptor.decide(QUrl(url)), expected);
    }

    void countingAndStatistics()
    {
        PrivacyEngine engine;
        const QJsonObject zero{{"adsBlocked", 0}, {"trackersBlocked", 0}, {"cookiesBlocked", 0},
                               {"requestsBlocked", 0}, {"domainsBlocked", 0}};
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
        QCOMPARE(engine.getPrivacyStats(), zero);
    }

    void storedSettings_data()
    {
        QTest::addColumn<QJsonObject>("stored");
        QTest::addColumn<QStringList>("expectedOff");
        QTest::newRow("two off") << QJsonObject{{"adBlocking", false}, {"blockCamera", false}}
                                 << QStringList{"adBlocking", "blockCamera"};
        QTest::newRow("non-bool counts as on") << QJsonObject{{"trackingProtection", "false"}, {"blockFonts", 0}}
                                               << QStringList();
        QJsonObject allOff;
        for (const QString &key : PrivacyEngine::settingsKeys())
            allOff.insert(key, false);
        allOff.insert("theme", "dark");
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

    void permissionDecision_data()
    {
        QTest::addColumn<QWebEnginePage::Feature>("feature");
        QTest::addColumn<bool>("camera");
        QTest::addColumn<bool>("microphone");
        QTest::addColumn<bool>("geolocation");
        QTest::addColumn<bool>("notifications");
        QTest::addColumn<Decision>("expected");
        QTest::addColumn<QString>("question");
        using P = QWebEnginePage;
        const QString allow = QStringLiteral("Allow maps.example to ");
        QTest::newRow("mic blocked") << P::MediaAudioCapture << false << true << false << false << Decision::Deny
                                     << allow + "use your microphone?";
        QTest::newRow("camera blocked") << P::MediaVideoCapture << true << false << false << false << Decision::Deny
                                        << allow + "use your camera?";
        QTest::newRow("av: camera blocked") << P::MediaAudioVideoCapture << true << false << false << false << Decision::Deny << "";
        QTest::newRow("av: both allowed") << P::MediaAudioVideoCapture << false << false << true << true << Decision::Ask
                                          << allow + "use your camera and microphone?";
        QTest::newRow("geolocation blocked") << P::Geolocation << false << false << true << false << Decision::Deny
                                             << allow + "know your location?";
        QTest::newRow("notifications blocked") << P::Notifications << false << false << false << true << Decision::Deny
                                               << allow + "show notifications?";
        QTest::newRow("notifications allowed") << P::Notifications << true << true << true << false << Decision::Ask << "";
        QTest::newRow("mouse lock left alone") << P::MouseLock << true << true << true << true << Decision::Default << "";
    }
    void permissionDecision()
    {
        QFETCH(QWebEnginePage::Feature, feature);
        QFETCH(bool, camera);
        QFETCH(bool, microphone);
        QFETCH(bool, geolocation);
        QFETCH(bool, notifications);
        QFETCH(QString, question);
        QTEST(PrivacyEngine::permissionDecision(feature, camera, microphone, geolocation, notifications), "expected");
        if (!question.isEmpty())
            QCOMPARE(PrivacyEngine::permissionQuestion("maps.example", feature), question);
    }

    // Reported, not enforced.
    void decisionCost()
    {
        const QStringList pools[] = {
            {"https://en.wikipedia.org/wiki/Main_Page", "https://images.news-site.example/2024/05/photo.jpg?w=1200"},
            {"https://securepubads.g.doubleclick.net/gampad/ads?sz=300x250", "https://news.example/AdServer/serve.php"},
            {"https://www.google-analytics.com/g/collect?v=2", "https://static.hotjar.com/c/hotjar-123.js?sv=6"}};
        QList<QUrl> urls;
        QRandomGenerator rng(42);
        for (int i = 0; i < 12000; ++i) {
            const int kind = int(rng.bounded(10)); // 60% ordinary, 20% ads, 20% trackers
            const QStringList &pool = pools[kind < 6 ? 0 : kind < 8 ? 1 : 2];
            urls.append(QUrl(pool.at(int(rng.bounded(quint32(pool.size()))))));
        }
        RequestInterceptor interceptor;
        std::vector<qint64> costs;
        int blocked = 0;
        for (const QUrl &url : std::as_const(urls)) {
            QElapsedTimer t;
            t.start();
            blocked += interceptor.decide(url) != Verdict::Pass;
            costs.push_back(t.nsecsElapsed());
        }
        std::sort(costs.begin(), costs.end());
        qInfo("Blocking decision over %d URLs (%d blocked): median %lld ns, p99 %lld ns", int(urls.size()), blocked,
              costs[costs.size() / 2], costs[costs.size() * 99 / 100]);
        QVERIFY(blocked > 0 && blocked < urls.size());
    }
};

QTEST_GUILESS_MAIN(TestInterceptor)
#include "tst_interceptor.moc"
