#include "PrivacyEngine.h"
#include "RequestInterceptor.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"

#include <QApplication>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QtTest>

#include <memory>
#include <optional>

namespace {
constexpr int LoadTimeout = 20000;

// Keeps page console output out of the Qt log, where it would count as a warning.
class QuietPage : public QWebEnginePage
{
public:
    using QWebEnginePage::QWebEnginePage;
    QStringList console;

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &message, int, const QString &) override
    {
        console.append(message);
    }
};

// A view and its engine, as a browser tab has them; both die with widget.
struct Tab {
    std::unique_ptr<QWidget> widget = std::make_unique<QWidget>();
    PrivacyEngine *engine = new PrivacyEngine(widget.get());
    QWebEngineView *view = new QWebEngineView(widget.get());

    explicit Tab(const QJsonObject &settings = QJsonObject())
    {
        engine->applySettings(settings);
        view->setPage(new QuietPage(QWebEngineProfile::defaultProfile(), view));
        engine->applyPrivacySettings(view);
        // An icon fetch finishing after a test would land in the next test's records.
        view->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
        view->resize(800, 600);
    }
    bool load(const QUrl &url)
    {
        QSignalSpy finished(view, &QWebEngineView::loadFinished);
        view->load(url);
        return (finished.wait(LoadTimeout) || !finished.isEmpty()) && finished.first().first().toBool();
    }
    QVariant run(const QString &script)
    {
        auto result = std::make_shared<std::optional<QVariant>>();
        view->page()->runJavaScript(script, [result](const QVariant &value) { *result = value; });
        return QTest::qWaitFor([&] { return result->has_value(); }, LoadTimeout) ? **result : QVariant();
    }
    // Outside the DOM so no page script sees them.
    void requestImages(const QList<QUrl> &urls)
    {
        QString script;
        for (const QUrl &url : urls)
            script += QStringLiteral("new Image().src = '%1';\n").arg(url.toString());
        run(script + QStringLiteral("true;"));
    }
    int ads() const { return engine->interceptor()->blockedAdsCount(); }
};
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

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setPage("/page", "<html><head><title>t</title></head><body>"
                                "<img src='/ads/banner.png'><img src='/AdServer/x.png'>"
                                "<img src='/pixel.png'><p>text</p></body></html>");
        for (const char *path : {"/pixel.png", "/ads/banner.png", "/ads/data.json", "/control.png"})
            server.setPage(path, "x", "image/png");
        // Ad patterns match literally ("header" is no ".ad.", "/about" no "/ad?") and in any case.
        server.setPage("/scripts", "<html><body><div class='box sponsored'>buy</div>"
                                   "<div id='SponsoredBox'>buy</div><span class='x.ad.y'>buy</span>"
                                   "<div class='header keep'>h</div><a class='keep' href='/about'>a</a>"
                                   "<div id='keep'>keep</div></body></html>");
        // Start the engine outside any test function: its start-up talk is not ours.
        QVERIFY(Tab().load(server.url("/pixel.png")));
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
        QTest::addColumn<bool>("newerTabClosed");
        QTest::newRow("defaults") << QJsonObject() << true << true << false;
        QTest::newRow("tracking off") << QJsonObject{{"trackingProtection", false}} << false << true << false;
        QTest::newRow("ad blocking off") << QJsonObject{{"adBlocking", false}} << true << false << false;
        QTest::newRow("after the newest of two tabs closed") << QJsonObject() << true << true << true;
    }
    void headersAndAdPaths()
    {
        QFETCH(QJsonObject, stored);
        QFETCH(bool, tracking);
        QFETCH(bool, ads);
        QFETCH(bool, newerTabClosed);
        Tab tab(stored);
        if (newerTabClosed)
            QVERIFY(Tab().load(server.url("/scripts")));
        server.clearRequests();
        QVERIFY(tab.load(server.url("/page")));
        // The page script may have removed the page's own ad images.
        const int atLoad = tab.ads();
        QVERIFY(atLoad <= 2);
        tab.requestImages({server.url("/ads/banner.png?late"), server.url("/AdServer/x.png?late"), server.url("/pixel.png?late")});
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/pixel.png"), 2, LoadTimeout);
        if (!ads)
            QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/ads/banner.png"), 2, LoadTimeout);
        QCOMPARE(tab.ads(), ads ? atLoad + 2 : 0);
        QCOMPARE(tab.engine->getBlockedDomains(), ads ? QStringList{"127.0.0.1"} : QStringList());
        for (const TestHttpServer::Request &r : server.requests()) {
            QCOMPARE(r.header("DNT") + r.header("Sec-GPC"), QByteArray(tracking ? "11" : ""));
            QVERIFY2(!ads || !r.path.toLower().contains("/ads"), r.path.constData());
        }
    }

    void listedHostsBlockedAndCounted()
    {
        Tab tab;
        QVERIFY(tab.load(server.url("/scripts")));
        server.clearRequests();
        // The unlisted control host shows the listed ones would have arrived.
        tab.requestImages({at("ad.doubleclick.net", "/pixel.png"), at("www.google-analytics.com", "/pixel.png"),
                           at("ssl.google-analytics.com", "/ads/banner.png"), at("control.example", "/control.png")});
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/control.png"), 1, LoadTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(tab.ads(), 2, LoadTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(tab.engine->interceptor()->blockedTrackersCount(), 1, LoadTimeout);
        QCOMPARE(server.requestCount("/pixel.png") + server.requestCount("/ads/banner.png"), 0);
        QCOMPARE(tab.engine->getBlockedDomains(),
                 QStringList({"ad.doubleclick.net", "ssl.google-analytics.com", "www.google-analytics.com"}));
    }

    void pageScriptsProtect()
    {
        Tab tab;
        QVERIFY(tab.load(server.url("/scripts")));
        QCOMPARE(tab.run("[screen.width, screen.height, navigator.platform, navigator.hardwareConcurrency].join('|')").toString(),
                 QStringLiteral("1920|1080|Linux x86_64|4"));
        const QStringList console = static_cast<QuietPage *>(tab.view->page())->console;
        QVERIFY2(console.filter(QStringLiteral("Uncaught")).isEmpty(), qPrintable(console.join('\n')));
        QCOMPARE(tab.run("document.cookie = 'plain=1'; sessionStorage.setItem('k', 'v');"
                         " document.cookie + '|' + sessionStorage.getItem('k')").toString(),
                 QStringLiteral("|null"));

        tab.run("fetch('/ads/data.json').then(function (r) { return r.text().then("
                "function (t) { window.adFetch = r.status + ':' + t.length; }); });");
        QTRY_COMPARE_WITH_TIMEOUT(tab.run("String(window.adFetch)").toString(), QStringLiteral("200:0"), LoadTimeout);
        QCOMPARE(server.requestCount("/ads/data.json"), 0);

        // Sponsored elements go at load and when added later.
        QCOMPARE(tab.run("document.querySelectorAll('.sponsored, #SponsoredBox, span').length + ':' +"
                         " document.querySelectorAll('#keep, .keep').length").toString(),
                 QStringLiteral("0:3"));
        tab.run("var d = document.createElement('div'); d.className = 'sponsored'; document.body.appendChild(d); true;");
        QTRY_COMPARE_WITH_TIMEOUT(tab.run("document.querySelectorAll('.sponsored').length").toInt(), 0, LoadTimeout);

        // Takes effect on the next load; tracker cookies and storage writes are still dropped.
        tab.engine->setBlockAllCookies(false);
        QVERIFY(tab.load(server.url("/scripts")));
        QCOMPARE(tab.run("document.cookie = 'a=1'; document.cookie = 'hj=static.hotjar.com'; document.cookie = 'b=2';"
                         " sessionStorage.setItem('k', 'v'); sessionStorage.setItem('hj', 'static.hotjar.com');"
                         " document.cookie + '|' + sessionStorage.getItem('k') + '|' + sessionStorage.getItem('hj')").toString(),
                 QStringLiteral("a=1; b=2|v|null"));
    }

    void permissionRequests()
    {
        Tab tab;
        QStringList asked;
        tab.engine->setPermissionAsker([&](QWidget *, const QString &site, QWebEnginePage::Feature f) {
            asked.append(PrivacyEngine::permissionQuestion(site, f));
            return true;
        });
        const QString request = "Notification.requestPermission().then(function (p) { window.perm = p; }); true;";
        QVERIFY(tab.load(server.url("/scripts")));
        tab.run(request);
        QTRY_COMPARE_WITH_TIMEOUT(tab.run("String(window.perm)").toString(), QStringLiteral("denied"), LoadTimeout);
        QVERIFY(asked.isEmpty());

        // Another origin: the engine remembers an origin's earlier answer.
        tab.engine->setBlockNotifications(false);
        QVERIFY(tab.load(at("localhost", "/scripts")));
        tab.run(request);
        QTRY_COMPARE_WITH_TIMEOUT(tab.run("String(window.perm)").toString(), QStringLiteral("granted"), LoadTimeout);
        QCOMPARE(asked, QStringList{"Allow localhost to show notifications?"});
    }
};

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The engine splits QTWEBENGINE_CHROMIUM_FLAGS at blanks, and the resolver
    // rules hold blanks, so all flags move into the arguments.
    QList<QByteArray> flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").split(' ');
    qunsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    flags << "--host-resolver-rules=MAP *.doubleclick.net 127.0.0.1,MAP *.google-analytics.com 127.0.0.1,"
             "MAP control.example 127.0.0.1";
    std::vector<char *> appArgs(argv, argv + argc);
    appArgs.push_back(const_cast<char *>("--webEngineArgs"));
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
