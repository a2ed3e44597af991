#include "PrivacyEngine.h"
#include "RequestInterceptor.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"
#include "VpnGate.h"

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

    Tab()
    {
        engine->applySettings(QJsonObject()); // every switch on
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
        // Without a VPN manager nobody opens the kill switch: these tests do.
        VpnGate::setOpen(true);
        QVERIFY(server.listen());
        // Ad patterns match literally ("header" is no ".ad.", "/about" no "/ad?") and in any case.
        server.setPage("/page", "<html><body><img src='/ads/banner.png'><div class='box sponsored'>buy</div>"
                                "<div id='SponsoredBox'>buy</div><span class='x.ad.y'>buy</span>"
                                "<div class='header keep'>h</div><a class='keep' href='/about'>a</a>"
                                "<div id='keep'>keep</div></body></html>");
        server.setPage("/pixel.png", "x", "image/png");
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

    // Still so after a newer tab, whose engine's interceptor was installed last, has closed.
    void blockedRequestsNeverReachTheServer()
    {
        Tab tab;
        QVERIFY(Tab().load(server.url("/page")));
        server.clearRequests();
        QVERIFY(tab.load(server.url("/page")));
        // The page script may have removed the page's own ad image.
        const int atLoad = tab.ads();
        QVERIFY(atLoad <= 1);
        // The unlisted control host shows the listed ones would have arrived.
        // Images outside the DOM, so no page script sees them.
        QString images;
        for (const QUrl &url : {server.url("/ads/banner.png?late"), at("ad.doubleclick.net", "/listed.png"),
                                at("www.google-analytics.com", "/listed.png"), at("control.example", "/pixel.png")})
            images += QStringLiteral("new Image().src = '%1';").arg(url.toString());
        tab.run(images + QStringLiteral("true;"));
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount("/pixel.png"), 1, LoadTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(tab.ads(), atLoad + 2, LoadTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(tab.engine->interceptor()->blockedTrackersCount(), 1, LoadTimeout);
        QCOMPARE(tab.engine->getBlockedDomains(), QStringList({"127.0.0.1", "ad.doubleclick.net", "www.google-analytics.com"}));
        QCOMPARE(server.requestCount("/listed.png"), 0);
        for (const TestHttpServer::Request &r : server.requests()) {
            QCOMPARE(r.header("DNT") + r.header("Sec-GPC"), QByteArray("11"));
            QVERIFY2(!r.path.toLower().contains("/ads"), r.path.constData());
        }
    }

    void pageScriptsProtect()
    {
        Tab tab;
        QVERIFY(tab.load(server.url("/page")));
        QCOMPARE(tab.run("[screen.width, screen.height, navigator.platform, navigator.hardwareConcurrency].join('|')").toString(),
                 QStringLiteral("1920|1080|Linux x86_64|4"));
        QCOMPARE(tab.run("document.cookie = 'plain=1'; sessionStorage.setItem('k', 'v');"
                         " document.cookie + '|' + sessionStorage.getItem('k')").toString(),
                 QStringLiteral("|null"));
        // Sponsored elements go at load and when added later.
        QCOMPARE(tab.run("document.querySelectorAll('.sponsored, #SponsoredBox, span').length + ':' +"
                         " document.querySelectorAll('#keep, .keep').length").toString(),
                 QStringLiteral("0:3"));
        tab.run("var d = document.createElement('div'); d.className = 'sponsored'; document.body.appendChild(d); true;");
        QTRY_COMPARE_WITH_TIMEOUT(tab.run("document.querySelectorAll('.sponsored').length").toInt(), 0, LoadTimeout);
        const QStringList console = static_cast<QuietPage *>(tab.view->page())->console;
        QVERIFY2(console.filter(QStringLiteral("Uncaught")).isEmpty(), qPrintable(console.join('\n')));
    }

    // The canvas read-backs change by a small amount keyed to the session and the
    // site: reads within a session agree (nothing to average away, in any tab);
    // another session or another site reads differently; the page's own canvas
    // stays as drawn.
    void canvasReadsDependOnSessionAndSite()
    {
        server.setPage("/canvas", R"(<html><body><canvas id="c" width="200" height="60"></canvas><script>
            function draw(canvas) {
                const x = canvas.getContext('2d');
                x.fillStyle = '#f60'; x.fillRect(0, 0, 200, 60);
                x.fillStyle = 'rgba(102, 204, 0, 0.7)'; x.fillRect(100, 5, 80, 40);
                x.fillStyle = '#069'; x.font = '20px sans-serif'; x.fillText('Fingerprint 1.0', 4, 30);
                return canvas;
            }
            function fresh() { const c = document.createElement('canvas'); c.width = 200; c.height = 60; return draw(c); }
            function digest(bytes) { let h = 0; for (const b of bytes) h = Math.imul(h ^ b, 16777619) >>> 0; return h.toString(16); }
            const canvas = draw(document.getElementById('c'));
            const pixels = () => digest(canvas.getContext('2d').getImageData(0, 0, 200, 60).data);
            const blobs = [];
            const readBlob = () => canvas.toBlob(b => b.arrayBuffer().then(a => blobs.push(digest(new Uint8Array(a)))));
        </script></body></html>)");
        // dataURL twice, pixels twice, blob twice, whether the canvas still matches a fresh drawing.
        const auto read = [this](const QByteArray &sessionKey, const QUrl &url, bool protect) {
            PrivacyEngine::setFingerprintSessionKey(sessionKey);
            Tab tab;
            tab.engine->setFingerprintProtection(protect);
            if (!tab.load(url))
                return QStringList();
            const QStringList reads = tab.run("readBlob(); readBlob(); [canvas.toDataURL(), canvas.toDataURL(), pixels(), pixels()]").toStringList();
            if (!QTest::qWaitFor([&] { return tab.run("blobs.length").toInt() == 2; }, LoadTimeout))
                return QStringList();
            return reads + tab.run("blobs").toStringList() + QStringList{tab.run("String(fresh().toDataURL() === canvas.toDataURL())").toString()};
        };
        const QStringList first = read("session 1", server.url("/canvas"), true);
        QCOMPARE(first.size(), 7);
        QVERIFY(!first.at(0).isEmpty() && !first.at(2).isEmpty() && !first.at(4).isEmpty());
        QCOMPARE(first.at(1), first.at(0));
        QCOMPARE(first.at(3), first.at(2));
        QCOMPARE(first.at(5), first.at(4));
        QCOMPARE(first.at(6), QStringLiteral("true"));
        QCOMPARE(read("session 1", server.url("/canvas"), true), first);
        const auto differsInEachRead = [&first](const QStringList &other) {
            return other.size() == 7 && other.at(0) != first.at(0) && other.at(2) != first.at(2) && other.at(4) != first.at(4);
        };
        QVERIFY2(differsInEachRead(read("session 1", server.url("/canvas"), false)), "unchanged by the protection");
        QVERIFY2(differsInEachRead(read("session 2", server.url("/canvas"), true)), "the same in another session");
        QVERIFY2(differsInEachRead(read("session 1", at("control.example", "/canvas"), true)), "the same on another site");
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
