#include "ActiveFilters.h"
#include "FilterEngine.h"
#include "PrivacyEngine.h"
#include "ProfileProtection.h"
#include "RequestInterceptor.h"
#include "SiteProtection.h"
#include "TempDataDir.h"

#include <QWebEngineUrlRequestInfo>
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
        row("encoded slash", "https://example.org/x%2Fads%2Fy.gif", Verdict::BlockAd);
        row("ads in the query only", "https://example.org/x.gif?next=/ads/", Verdict::Pass);
        row("ads in the fragment only", "https://example.org/x.html#/ads/", Verdict::Pass);
        row("upper-case percent escape", "https://example.org/%2Fads/x.gif", Verdict::BlockAd);
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
        // The interceptor reads the path from the encoded address it has anyway.
        QTEST(interceptor.decide(QUrl(url), FilterEngine::encodedUrl(QUrl(url))), "expected");
    }

    // The interceptor's decision with the filter lists loaded: the lists
    // first, then the built-in lists unless an exception keeps the request
    // open; the user's per-site switch; the two switches, each for its
    // lists. Columns: request, page, frame that asked, resource type.
    void evaluate_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("initiator");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("switchesOff"); // a: ad blocking, t: tracking protection
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<QString>("decidedBy"); // the rule, "built-in", or "" for nothing
        QTest::addColumn<bool>("unprotected");
        const int image = QWebEngineUrlRequestInfo::ResourceTypeImage;
        const int script = QWebEngineUrlRequestInfo::ResourceTypeScript;
        const int frame = QWebEngineUrlRequestInfo::ResourceTypeMainFrame;
        const auto row = [](const char *name, const char *url, const char *page, const char *initiator, int type,
                            Verdict v, const char *by, const char *off = "", bool unprotected = false) {
            QTest::newRow(name) << QString::fromLatin1(url) << QString::fromLatin1(page) << QString::fromLatin1(initiator)
                                << type << QString::fromLatin1(off) << v << QString::fromLatin1(by) << unprotected;
        };
        const char *page = "https://news.example/article";
        const char *origin = "https://news.example";
        row("list rule blocks", "https://ads.example/banner.png", page, origin, image, Verdict::BlockAd, "||ads.example^");
        row("privacy list blocks as tracker", "https://stats.example/p.gif", page, origin, image, Verdict::BlockTracker,
            "||stats.example^");
        row("third-party rule, first party", "https://cdn.news.example/widget.js", page, origin, script, Verdict::Pass, "");
        row("third-party rule, third party", "https://cdn.other.example/widget.js", page, origin, script,
            Verdict::BlockAd, "/widget.js$third-party");
        // Third party to the frame that asked, not to the page.
        row("first party to its frame", "https://cdn.other.example/widget.js", page, "https://other.example", script,
            Verdict::Pass, "");
        row("built-in list", "https://static.criteo.com/x.js", page, origin, script, Verdict::BlockAd, "built-in");
        row("exception overrides built-in", "https://connect.facebook.net/sdk.js", page, origin, script, Verdict::Pass,
            "@@||connect.facebook.net/sdk.js$script");
        row("exception of another type does not", "https://connect.facebook.net/sdk.js", page, origin, image,
            Verdict::BlockTracker, "built-in");
        row("allow-listed page", "https://static.criteo.com/x.js", "https://shop.example/cart", "https://shop.example",
            script, Verdict::Pass, "@@||shop.example^$document");
        row("allow-listed page, list rule", "https://ads.example/banner.png", "https://shop.example/cart",
            "https://shop.example", image, Verdict::Pass, "@@||shop.example^$document");
        row("main frame is its own page", "https://ads.example/", page, "", frame, Verdict::Pass, "");
        row("ad lists off", "https://ads.example/banner.png", page, origin, image, Verdict::Pass, "", "a");
        row("ad lists off, trackers blocked", "https://stats.example/p.gif", page, origin, image, Verdict::BlockTracker,
            "||stats.example^", "a");
        row("tracking off", "https://stats.example/p.gif", page, origin, image, Verdict::Pass, "", "t");
        row("both off", "https://static.criteo.com/x.js", page, origin, script, Verdict::Pass, "", "at");
        row("unprotected site", "https://ads.example/banner.png", "https://www.trusted.example/", "https://www.trusted.example",
            image, Verdict::Pass, "", "", true);
        row("unprotected site, built-in list", "https://static.criteo.com/x.js", "https://trusted.example/",
            "https://trusted.example", script, Verdict::Pass, "", "", true);
    }
    void evaluate()
    {
        QFETCH(QString, url);
        QFETCH(QString, page);
        QFETCH(QString, initiator);
        QFETCH(int, type);
        QFETCH(QString, switchesOff);
        ActiveFilters::setEngine(FilterEngine::build({
            {QStringLiteral("EasyList"), "[Adblock Plus 2.0]\n||ads.example^\n/widget.js$third-party\n"
                                         "@@||connect.facebook.net/sdk.js$script\n@@||shop.example^$document\n"},
            {QStringLiteral("EasyPrivacy"), "[Adblock Plus 2.0]\n||stats.example^\n"},
        }));
        ActiveFilters::setUnprotectedSites({QStringLiteral("trusted.example")});
        RequestInterceptor interceptor;
        interceptor.setAdBlockingEnabled(!switchesOff.contains(QLatin1Char('a')));
        interceptor.setTrackingProtectionEnabled(!switchesOff.contains(QLatin1Char('t')));
        const RequestInterceptor::Outcome outcome = interceptor.evaluate(QUrl(url), QUrl(page), QUrl(initiator), type);
        ActiveFilters::setEngine(nullptr);
        ActiveFilters::setUnprotectedSites({});
        QTEST(outcome.verdict, "verdict");
        QTEST(outcome.unprotectedSite, "unprotected");
        const auto engine = FilterEngine::build({{QStringLiteral("EasyList"), "[Adblock Plus 2.0]\n||ads.example^\n"
                                                  "/widget.js$third-party\n@@||connect.facebook.net/sdk.js$script\n"
                                                  "@@||shop.example^$document\n"},
                                                 {QStringLiteral("EasyPrivacy"), "[Adblock Plus 2.0]\n||stats.example^\n"}});
        const QString by = outcome.builtin ? QStringLiteral("built-in") : engine->ruleText(outcome.rule);
        QTEST(by, "decidedBy");
    }

    // Without lists (first start, before the engine is ready) the built-in
    // lists block on their own.
    void evaluateWithoutLists()
    {
        ActiveFilters::setEngine(nullptr);
        RequestInterceptor interceptor;
        const auto outcome = interceptor.evaluate(QUrl("https://static.criteo.com/x.js"), QUrl("https://news.example/"),
                                                  QUrl("https://news.example"), QWebEngineUrlRequestInfo::ResourceTypeScript);
        QCOMPARE(outcome.verdict, Verdict::BlockAd);
        QVERIFY(outcome.builtin);
        QCOMPARE(RequestInterceptor::describe(outcome, nullptr), QStringLiteral("Built-in ad list"));
    }

    // The cookie filter: whose cookies pass, for requests and for scripts.
    void cookieAllowed_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("origin");
        QTest::addColumn<bool>("script");
        QTest::addColumn<QString>("blocking"); // t: third-party cookies, a: all cookies
        QTest::addColumn<bool>("allowed");
        const auto row = [](const char *name, const char *page, const char *origin, bool script, const char *blocking,
                            bool allowed) {
            QTest::newRow(name) << QString::fromLatin1(page) << QString::fromLatin1(origin) << script
                                << QString::fromLatin1(blocking) << allowed;
        };
        const char *page = "https://www.news.example/article";
        row("nothing blocked, third party", page, "https://ads.example/pixel", false, "", true);
        row("first party, other host of the site", page, "https://static.news.example/x.js", false, "t", true);
        row("third party", page, "https://ads.example/pixel", false, "t", false);
        row("same name, other suffix", page, "https://news.example.net/x", false, "t", false);
        row("public suffix site", "https://alice.github.io/", "https://bob.github.io/x", false, "t", false);
        row("no site for the context", "", "https://ads.example/pixel", false, "t", false);
        row("all blocked, first party", page, "https://www.news.example/api", false, "ta", false);
        row("all blocked, first party only", page, "https://www.news.example/api", false, "a", false);
        row("all blocked, first-party script", page, "https://www.news.example/", true, "ta", true);
        row("all blocked, third-party script", page, "https://ads.example/", true, "a", false);
        row("third party blocked, third-party script", page, "https://ads.example/", true, "t", false);
        row("account service", page, "https://account.orvex.example/login", false, "ta", true);
        row("account service, other port", page, "https://account.orvex.example:8443/login", false, "ta", false);
    }
    void cookieAllowed()
    {
        QFETCH(QString, page);
        QFETCH(QString, origin);
        QFETCH(bool, script);
        QFETCH(QString, blocking);
        const auto access = script ? ProfileProtection::Access::Script : ProfileProtection::Access::Network;
        QTEST(ProfileProtection::cookieAllowed(QUrl(page), QUrl(origin), access, blocking.contains(u't'),
                                               blocking.contains(u'a'), QUrl(QStringLiteral("https://account.orvex.example"))),
              "allowed");
    }

    // Sites switched off are kept by registrable domain, survive a restart
    // and a damaged file, and are published to every interceptor.
    void siteProtection_data()
    {
        QTest::addColumn<QString>("entered");
        QTest::addColumn<QString>("stored");
        QTest::newRow("host") << "www.news.example" << "news.example";
        QTest::newRow("address") << "https://shop.bbc.co.uk/x" << "bbc.co.uk";
        QTest::newRow("case and final dot") << "WWW.News.Example." << "news.example";
        QTest::newRow("IP address") << "http://192.0.2.7:8080/" << "192.0.2.7";
        QTest::newRow("international") << QString::fromUtf16(u"https://www.bücher.example/") << "xn--bcher-kva.example";
        QTest::newRow("no host") << "about:blank" << "";
        QTest::newRow("blank inside") << "news .example" << "";
    }
    void siteProtection()
    {
        QFETCH(QString, entered);
        QFETCH(QString, stored);
        TempDataDir dir;
        {
            SiteProtection sites(dir.dataFolder());
            const bool isUrl = entered.contains(QLatin1String(":"));
            const bool changed = isUrl ? sites.setProtected(QUrl(entered), false) : sites.setProtected(entered, false);
            QCOMPARE(changed, !stored.isEmpty());
        }
        SiteProtection again(dir.dataFolder());
        QCOMPARE(again.unprotectedSites(), stored.isEmpty() ? QStringList() : QStringList{stored});
        QCOMPARE(ActiveFilters::isUnprotected(stored), !stored.isEmpty());
        if (!stored.isEmpty()) {
            QVERIFY(again.setProtected(stored, true));
            QVERIFY(SiteProtection(dir.dataFolder()).unprotectedSites().isEmpty());
            QVERIFY(!ActiveFilters::isUnprotected(stored));
        }
    }

    void siteProtectionDamagedFile()
    {
        TempDataDir dir;
        dir.writeFile(QStringLiteral("siteprotection.json"), "{\"unprotected\": [\"a.example\", 7, \"\", \"b.example/x\"");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(".*")));
        SiteProtection sites(dir.dataFolder());
        QVERIFY(sites.unprotectedSites().isEmpty());
        QVERIFY(sites.setProtected(QStringLiteral("a.example"), false));
        QCOMPARE(SiteProtection(dir.dataFolder()).unprotectedSites(), QStringList({"a.example"}));
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
