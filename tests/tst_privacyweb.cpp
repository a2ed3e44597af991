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
#include <optional>

namespace {

constexpr int LoadTimeout = 20000;

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
    return (finished.wait(LoadTimeout) || !finished.isEmpty()) && finished.first().first().toBool();
}

QVariant run(QWebEngineView *view, const QString &script)
{
    std::optional<QVariant> result;
    view->page()->runJavaScript(script, [&](const QVariant &value) { result = value; });
    QTest::qWaitFor([&] { return result.has_value(); }, LoadTimeout);
    return result.value_or(QVariant());
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

    // Outside the DOM so no page script sees them.
    void requestImages(QWebEngineView *view, const QList<QUrl> &urls)
    {
        QString script;
        for (const QUrl &url : urls)
            script += QStringLiteral("new Image().src = '%1';\n").arg(url.toString());
        run(view, script + QStringLiteral("true;"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setPage("/page", "<html><head><title>t</title></head><body>"
                                "<img src='/ads/banner.png'><img src='/AdServer/x.png'>"
                                "<img src='/pixel.png'><p>text</p></body></html>");
        server.setPage("/pixel.png", "x", "image/png");
        for (const char *path : {"/ads/banner.png", "/ads/data.json", "/control.png"})
            server.setPage(path, "x", "image/png");
        // Ad patterns match literally ("header" is no ".ad.", "/about" no "/ad?") and in any case.
        server.setPage("/scripts", "<html><body><div class='box sponsored'>buy</div>"
                                   "<div id='SponsoredBox'>buy</div><span class='x.ad.y'>buy</span>"
                                   "<div class='header keep'>h</div><a class='keep' href='/about'>a</a>"
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
        QTest::addColumn<QJsonObject>("stored");
        QTest::addColumn<bool>("tracking");
        QTest::addColumn<bool>("ads");
        QTest::newRow("defaults") << QJsonObject() << true << true;
        QTest::newRow("tracking off") << QJsonObject{{"trackingProtection", false}} << false << true;
        QTest::newRow("ad blocking off") << QJsonObject{{"adBlocking", false}} << true << false;
    }
    void headersAndAdPaths()
    {
        QFETCH(QJsonObject, stored);
        QFETCH(bool, tracking);
        QFETCH(bool, ads);
        Tab tab = makeTab(stored);
        QVERIFY(load(tab.view, server.url("/page")));
        // The page script may have removed the page's own ad images.
        const int atLoad = tab.engine->interceptor()->blockedAdsCount();
        QVERIFY(atLoad <= 2);
        requestImages(tab.view, {server.url("/ads/banner.png?late"), server.url("/AdServer/x.png?late"),
                                 server.url("/pixel.png?late")});
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/pixel.png"), 2, LoadTimeout);
        if (!ads)
            QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/ads/banner.png"), 2, LoadTimeout);
        QCOMPARE(tab.engine->interceptor()->blockedAdsCount(), ads ? atLoad + 2 : 0);
        QCOMPARE(tab.engine->getBlockedDomains(), ads ? QStringList{"127.0.0.1"} : QStringList());
        for (const TestHttpServer::Request &r : server.requests()) {
            QCOMPARE(r.header("DNT") + r.header("Sec-GPC"), QByteArray(tracking ? "11" : ""));
            QVERIFY2(!ads || !r.path.toLower().contains("/ads"), r.path.constData());
        }
    }

    void listedHostsBlockedAndCounted()
    {
        Tab tab = makeTab();
        QVERIFY(load(tab.view, server.url("/scripts")));
        server.clearRequests();
        // The unlisted control host shows the listed ones would have arrived.
        requestImages(tab.view, {at("ad.doubleclick.net", "/pixel.png"),
                                 at("www.google-analytics.com", "/pixel.png"),
                                 at("ssl.google-analytics.com", "/ads/banner.png"),
                                 at("control.example", "/control.png")});
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/control.png"), 1, LoadTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(tab.engine->interceptor()->blockedAdsCount(), 2, LoadTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(tab.engine->interceptor()->blockedTrackersCount(), 1, LoadTimeout);
        QCOMPARE(server.requestCount("/pixel.png") + server.requestCount("/ads/banner.png"), 0);
        QCOMPARE(tab.engine->getBlockedDomains(),
                 QStringList({"ad.doubleclick.net", "ssl.google-analytics.com", "www.google-analytics.com"}));
    }

    void pageScriptsProtect()
    {
        Tab tab = makeTab();
        QVERIFY(load(tab.view, server.url("/scripts")));

        QCOMPARE(run(tab.view, "[screen.width, navigator.platform].join('|')").toString(),
                 QStringLiteral("1920|Linux x86_64"));
        const QStringList console = static_cast<QuietPage *>(tab.view->page())->console;
        QVERIFY2(console.filter(QStringLiteral("Uncaught")).isEmpty(), qPrintable(console.join('\n')));

        QCOMPARE(run(tab.view, "document.cookie = 'plain=1'; document.cookie").toString(), QString());

        run(tab.view, "fetch('/ads/data.json').then(function (r) { return r.text().then("
                      "function (t) { window.adFetch = r.status + ':' + t.length; }); });");
        QTRY_COMPARE_WITH_TIMEOUT(run(tab.view, "String(window.adFetch)").toString(),
                                  QStringLiteral("200:0"), LoadTimeout);
        QCOMPARE(server.requestCount("/ads/data.json"), 0);

        // Sponsored elements go at load and when added later.
        QCOMPARE(run(tab.view, "document.querySelectorAll('.sponsored, #SponsoredBox, span').length + ':' +"
                               " document.querySelectorAll('#keep, .keep').length").toString(),
                 QStringLiteral("0:3"));
        run(tab.view, "var d = document.createElement('div'); d.className = 'sponsored';"
                      " document.body.appendChild(d); true;");
        QTRY_COMPARE_WITH_TIMEOUT(run(tab.view, "document.querySelectorAll('.sponsored').length").toInt(),
                                  0, LoadTimeout);

        // Takes effect on the next load; tracker cookies are still dropped.
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
        newer.widget.reset();
        server.clearRequests();
        QVERIFY(load(older.view, server.url("/scripts")));
        requestImages(older.view, {server.url("/ads/banner.png"), server.url("/pixel.png")});
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/pixel.png"), 1, LoadTimeout);
        QCOMPARE(older.engine->interceptor()->blockedAdsCount(), 1);
        QCOMPARE(server.requestCount("/ads/banner.png"), 0);
        QCOMPARE(server.requestsFor("/pixel.png").first().header("DNT"), QByteArray("1"));
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

        // Another origin: the engine remembers an origin's earlier answer.
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
    // The engine splits QTWEBENGINE_CHROMIUM_FLAGS at blanks, and the resolver
    // rules hold blanks, so all flags move into the arguments.
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
