#include "PrivacyEngine.h"
#include "RequestInterceptor.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"

#include <QApplication>
#include <QJsonObject>
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QtTest>

#include <memory>

// End-to-end checks of privacy protection in the real web engine: headers and
// blocking as the server sees them, the page scripts as a page sees them, the
// profile-wide interceptor across tabs, stored settings and permissions.
namespace {

constexpr int LoadTimeout = 20000;

// Host names the engine resolves to loopback (see main): listed ad and
// tracker hosts, and one unlisted control host.
const char *const ResolverRules =
    "--host-resolver-rules=MAP *.doubleclick.net 127.0.0.1,MAP *.google-analytics.com 127.0.0.1,"
    "MAP control.example 127.0.0.1";

// Keeps page console output out of the Qt log, where it would count as a warning.
class QuietPage : public QWebEnginePage
{
public:
    using QWebEnginePage::QWebEnginePage;
    QStringList console;

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &message, int,
                                  const QString &) override
    {
        console.append(message);
    }
};

// One browser tab as the browser builds it: an engine and a view, engine first.
struct Tab {
    std::unique_ptr<QWidget> widget;
    QPointer<PrivacyEngine> engine;
    QPointer<QWebEngineView> view;
};

Tab makeTab(const QJsonObject &settings = QJsonObject())
{
    Tab tab;
    tab.widget = std::make_unique<QWidget>();
    tab.engine = new PrivacyEngine(tab.widget.get());
    tab.engine->applySettings(settings);
    tab.view = new QWebEngineView(tab.widget.get());
    tab.view->setPage(new QuietPage(QWebEngineProfile::defaultProfile(), tab.view));
    tab.engine->applyPrivacySettings(tab.view);
    // An icon fetch finishing after a test would land in the next test's records.
    tab.view->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    tab.view->resize(800, 600);
    return tab;
}

bool load(QWebEngineView *view, const QUrl &url)
{
    QSignalSpy finished(view, &QWebEngineView::loadFinished);
    view->load(url);
    if (!finished.wait(LoadTimeout) && finished.isEmpty())
        return false;
    return finished.first().first().toBool();
}

// Runs script in the page and waits for its result.
QVariant run(QWebEngineView *view, const QString &script)
{
    QVariant result;
    bool done = false;
    view->page()->runJavaScript(script, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    QTest::qWaitFor([&] { return done; }, LoadTimeout);
    return result;
}

} // namespace

class TestPrivacyWeb : public QObject
{
    Q_OBJECT
private:
    // Left alive on purpose: the engine keeps connections open, and
    // TestHttpServer's destructor crashes on open connections.
    TestHttpServer &server = *new TestHttpServer;
    std::unique_ptr<TempDataDir> dataDir;

    QUrl at(const QString &host, const QString &path) const
    {
        return QUrl(QStringLiteral("http://%1:%2%3").arg(host).arg(server.port()).arg(path));
    }

    // Image requests made from the page, outside the DOM so no page script sees them.
    void requestImages(QWebEngineView *view, const QList<QUrl> &urls)
    {
        QStringList lines;
        for (const QUrl &url : urls)
            lines.append(QStringLiteral("new Image().src = '%1';").arg(url.toString()));
        run(view, lines.join(QLatin1Char('\n')) + QStringLiteral("\ntrue;"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setPage("/page", "<html><head><title>t</title></head><body>"
                                "<img src='/ads/banner.png'><img src='/AdServer/x.png'>"
                                "<img src='/pixel.png'><p>text</p></body></html>");
        server.setPage("/pixel.png", "x", "image/png");
        server.setPage("/ads/banner.png", "x", "image/png");
        server.setPage("/ads/data.json", "{}", "application/json");
        server.setPage("/control.png", "x", "image/png");
        server.setPage("/scripts", "<html><body><div class='box sponsored'>buy</div>"
                                   "<div id='keep'>keep</div></body></html>");
        // Start the engine outside any test function: its start-up talk is not ours.
        Tab warm = makeTab();
        QVERIFY(load(warm.view, server.url("/pixel.png")));
    }

    void init()
    {
        // The engine may announce its missing GPU late, from its own thread.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(R"re(^(?!No suitable graphics backend|WebEngineContext used before).*)re")));
        dataDir = std::make_unique<TempDataDir>();
        server.clearRequests();
    }
    void cleanup() { dataDir.reset(); }

    void headersAndAdPaths_data()
    {
        QTest::addColumn<bool>("tracking");
        QTest::newRow("tracking protection on") << true;
        QTest::newRow("tracking protection off") << false;
    }
    void headersAndAdPaths()
    {
        QFETCH(bool, tracking);
        Tab tab = makeTab({{"trackingProtection", tracking}});
        QVERIFY(load(tab.view, server.url("/page")));
        // The page's own ad images may already be gone to the page script;
        // these requests come from outside the document.
        const int atLoad = tab.engine->interceptor()->blockedAdsCount();
        QVERIFY(atLoad <= 2);
        requestImages(tab.view, {server.url("/ads/banner.png?late"), server.url("/AdServer/x.png?late"),
                                 server.url("/pixel.png?late")});
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/pixel.png"), 2, LoadTimeout);
        QCOMPARE(tab.engine->interceptor()->blockedAdsCount(), atLoad + 2);
        QCOMPARE(tab.engine->getPrivacyStats().value("requestsBlocked").toInt(), atLoad + 2);
        QCOMPARE(tab.engine->getBlockedDomains(), QStringList{"127.0.0.1"});

        const QList<TestHttpServer::Request> seen = server.requests();
        for (const TestHttpServer::Request &r : seen) {
            const QByteArray expected = tracking ? "1" : "";
            QVERIFY2(r.header("DNT") == expected, r.path + '?' + r.query);
            QCOMPARE(r.header("Sec-GPC"), expected);
            QVERIFY2(!r.path.toLower().contains("/ads/") && !r.path.toLower().contains("/adserver/"),
                     r.path.constData());
        }
    }

    void listedHostsBlockedAndCounted()
    {
        Tab tab = makeTab();
        QVERIFY(load(tab.view, server.url("/scripts")));
        server.clearRequests();
        // The unlisted control host reaches the server through the same resolver
        // rules, so the listed ones would have arrived too had they not been blocked.
        requestImages(tab.view, {at("ad.doubleclick.net", "/pixel.png"),
                                 at("www.google-analytics.com", "/pixel.png"),
                                 at("ssl.google-analytics.com", "/ads/banner.png"),
                                 at("control.example", "/control.png")});
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/control.png"), 1, LoadTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(tab.engine->interceptor()->blockedAdsCount(), 2, LoadTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(tab.engine->interceptor()->blockedTrackersCount(), 1, LoadTimeout);
        QCOMPARE(server.requestCount("/pixel.png"), 0);
        QCOMPARE(server.requestCount("/ads/banner.png"), 0);
        const QJsonObject stats = tab.engine->getPrivacyStats();
        QCOMPARE(stats.value("adsBlocked").toInt(), 2);
        QCOMPARE(stats.value("trackersBlocked").toInt(), 1);
        QCOMPARE(stats.value("requestsBlocked").toInt(), 3);
        QCOMPARE(tab.engine->getBlockedDomains(),
                 QStringList({"ad.doubleclick.net", "ssl.google-analytics.com", "www.google-analytics.com"}));
    }

    void pageScriptsProtect()
    {
        Tab tab = makeTab();
        QVERIFY(load(tab.view, server.url("/scripts")));

        // Fingerprint surfaces.
        QCOMPARE(run(tab.view, "[screen.width, screen.height, navigator.platform, "
                               "navigator.hardwareConcurrency].join('|')").toString(),
                 QStringLiteral("1920|1080|Linux x86_64|4"));
        QCOMPARE(run(tab.view, "var c = document.createElement('canvas'); c.width = 0;"
                               " c.toDataURL()").toString(),
                 QStringLiteral("data:,"));
        // None of the injected scripts failed in the page.
        const QStringList console = static_cast<QuietPage *>(tab.view->page())->console;
        QVERIFY2(console.filter(QStringLiteral("Uncaught")).isEmpty(), qPrintable(console.join('\n')));

        // All cookies and storage writes dropped.
        QCOMPARE(run(tab.view, "document.cookie = 'plain=1'; document.cookie").toString(), QString());
        QCOMPARE(run(tab.view, "(function () { try { sessionStorage.setItem('k', 'v');"
                               " return String(sessionStorage.getItem('k')); }"
                               " catch (e) { return 'threw'; } })()").toString(),
                 QStringLiteral("null"));
        QCOMPARE(run(tab.view, "(function () { try { localStorage.setItem('k', 'v');"
                               " return String(localStorage.getItem('k')); }"
                               " catch (e) { return 'unavailable'; } })()").toString(),
                 QStringLiteral("unavailable"));

        // An ad fetch by string resolves empty without reaching the server.
        run(tab.view, "fetch('/ads/data.json').then(function (r) { return r.text().then("
                      "function (t) { window.adFetch = r.status + ':' + t.length; }); });");
        QTRY_COMPARE_WITH_TIMEOUT(run(tab.view, "String(window.adFetch)").toString(),
                                  QStringLiteral("200:0"), LoadTimeout);
        QCOMPARE(server.requestCount("/ads/data.json"), 0);

        // Sponsored elements go at load and when added later.
        QCOMPARE(run(tab.view, "document.querySelectorAll('.sponsored').length + ':' +"
                               " document.querySelectorAll('#keep').length").toString(),
                 QStringLiteral("0:1"));
        run(tab.view, "var d = document.createElement('div'); d.className = 'sponsored';"
                      " document.body.appendChild(d); true;");
        QTRY_COMPARE_WITH_TIMEOUT(run(tab.view, "document.querySelectorAll('.sponsored').length").toInt(),
                                  0, LoadTimeout);

        // Switching all-cookie blocking off takes effect on the tab's next load:
        // tracker cookies are still dropped, others kept.
        tab.engine->setBlockAllCookies(false);
        QVERIFY(load(tab.view, server.url("/scripts")));
        const QString cookies = run(tab.view, "document.cookie = 'a=1'; document.cookie = 'hj=static.hotjar.com';"
                                              " document.cookie = 'b=2'; document.cookie").toString();
        QCOMPARE(cookies, QStringLiteral("a=1; b=2"));
    }

    void closingNewestTabKeepsProtection()
    {
        Tab older = makeTab();
        Tab newer = makeTab();
        QVERIFY(load(newer.view, server.url("/scripts")));
        requestImages(newer.view, {server.url("/ads/banner.png")});
        QTRY_COMPARE_WITH_TIMEOUT(newer.engine->interceptor()->blockedAdsCount(), 1, LoadTimeout);
        QCOMPARE(older.engine->interceptor()->blockedAdsCount(), 0);

        newer.widget.reset(); // the tab closes
        QVERIFY(!newer.engine);
        server.clearRequests();
        QVERIFY(load(older.view, server.url("/scripts")));
        requestImages(older.view, {server.url("/ads/banner.png"), server.url("/pixel.png")});
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/pixel.png"), 1, LoadTimeout);
        QCOMPARE(older.engine->interceptor()->blockedAdsCount(), 1);
        QCOMPARE(server.requestCount("/ads/banner.png"), 0);
        for (const TestHttpServer::Request &r : server.requests()) {
            QCOMPARE(r.header("DNT"), QByteArray("1"));
            QCOMPARE(r.header("Sec-GPC"), QByteArray("1"));
        }
    }

    void storedSettingsGovernANewTab()
    {
        Tab tab = makeTab({{"adBlocking", false}});
        QVERIFY(load(tab.view, server.url("/page")));
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/ads/banner.png"), 1, LoadTimeout);
        QCOMPARE(server.requestsFor("/ads/banner.png").first().header("DNT"), QByteArray("1"));
        QCOMPARE(tab.engine->interceptor()->blockedAdsCount(), 0);

        // Turned on later: the interceptor blocks at once, the page script on the next load.
        tab.engine->setAdBlocking(true);
        server.clearRequests();
        QVERIFY(load(tab.view, server.url("/scripts")));
        QCOMPARE(run(tab.view, "document.querySelectorAll('.sponsored').length").toInt(), 0);
        requestImages(tab.view, {server.url("/ads/banner.png")});
        QTRY_COMPARE_WITH_TIMEOUT(tab.engine->interceptor()->blockedAdsCount(), 1, LoadTimeout);
        QCOMPARE(server.requestCount("/ads/banner.png"), 0);
    }

    void permissionRequests()
    {
        Tab tab = makeTab();
        QStringList asked;
        tab.engine->setPermissionAsker([&](QWidget *, const QString &site, QWebEnginePage::Feature f) {
            asked.append(PrivacyEngine::permissionQuestion(site, f));
            return true;
        });
        const QString request = "Notification.requestPermission().then(function (p) { window.perm = p; }); true;";

        QVERIFY(load(tab.view, server.url("/scripts")));
        run(tab.view, request);
        QTRY_COMPARE_WITH_TIMEOUT(run(tab.view, "String(window.perm)").toString(),
                                  QStringLiteral("denied"), LoadTimeout);
        QVERIFY(asked.isEmpty());

        // Switch off: the user is asked, and the answer is applied. Another
        // origin, since the engine remembers an origin's earlier answer.
        tab.engine->setBlockNotifications(false);
        QVERIFY(load(tab.view, at("localhost", "/scripts")));
        run(tab.view, request);
        QTRY_COMPARE_WITH_TIMEOUT(run(tab.view, "String(window.perm)").toString(),
                                  QStringLiteral("granted"), LoadTimeout);
        QCOMPARE(asked, QStringList{"Allow localhost to show notifications?"});
    }
};

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The web engine takes Chromium switches from the application's arguments
    // unless QTWEBENGINE_CHROMIUM_FLAGS is set, which it splits at blanks; the
    // resolver rules hold blanks, so the flags move into the arguments.
    std::vector<char *> appArgs(argv, argv + argc);
    QList<QByteArray> flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").split(' ');
    qunsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    flags.prepend(QByteArrayLiteral("--webEngineArgs"));
    flags.append(QByteArray(ResolverRules));
    for (QByteArray &flag : flags) {
        if (!flag.isEmpty())
            appArgs.push_back(flag.data());
    }
    int appArgc = int(appArgs.size());
    appArgs.push_back(nullptr);
    QApplication app(appArgc, appArgs.data());
    TestPrivacyWeb test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_privacyweb.moc"
