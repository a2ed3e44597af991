#include "BrowserWindow.h"
#include "DevTools.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"

#include <QtTest>
#include <QtWebEngineCore>
#include <QtWebEngineWidgets>
#include <QtWidgets>
#include <memory>

static constexpr int Slow = 20000; // page loads and PDF rendering on a busy machine

// Receives the desktop's "open this file" requests instead of a real viewer.
class OpenedFiles : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
    Q_INVOKABLE void open(const QUrl &url) { urls << url; }
};

class TestBrowserWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<QWidget> host; // a shown parent for the dev tools

    void loadHome(BrowserWindow &tab)
    {
        tab.loadUrl(server->url(QStringLiteral("/")));
        QTRY_COMPARE_WITH_TIMEOUT(tab.title(), QStringLiteral("Home"), Slow);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Start the engine before warnings count: it announces the missing GPU once.
        host = std::make_unique<QWidget>();
        host->resize(1000, 700);
        host->show();
        QVERIFY(QTest::qWaitForWindowExposed(host.get()));
        QWebEngineView warm(host.get());
        QSignalSpy loaded(&warm, &QWebEngineView::loadFinished);
        warm.setHtml(QStringLiteral("<p>warm</p>"));
        QVERIFY(loaded.wait(Slow));
    }
    void cleanupTestCase() { host.reset(); }
    void init()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(
            "^(?!This plugin does not support|No suitable graphics backend|WebEngineContext used before).*")));
        dir = std::make_unique<TempDataDir>();
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->listen());
        server->setPage("/", "<html><head><title>Home</title></head><body><p>hello world</p></body></html>");
        QImage icon(16, 16, QImage::Format_ARGB32);
        icon.fill(Qt::cyan);
        QBuffer png;
        icon.save(&png, "PNG");
        server->setPage("/favicon.ico", png.data(), "image/png");
    }
    void cleanup()
    {
        BrowserWindow::finishPendingPrints();
        server.reset();
        dir.reset();
    }

    void zoomIsBounded_data()
    {
        QTest::addColumn<double>("requested");
        QTest::addColumn<double>("stored");
        QTest::newRow("too large") << 10.0 << 5.0;
        QTest::newRow("zero") << 0.0 << 0.25;
        QTest::newRow("negative") << -3.0 << 0.25;
        QTest::newRow("inside") << 1.5 << 1.5;
    }
    void zoomIsBounded()
    {
        QFETCH(double, requested);
        QFETCH(double, stored);
        BrowserWindow tab;
        QSignalSpy spy(&tab, &BrowserWindow::zoomFactorChanged);
        tab.setZoomFactor(requested);
        QCOMPARE(tab.zoomFactor(), stored);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toDouble(), stored);
    }

    // The warning page fetches nothing and remembers the refused address until
    // the tab really navigates; a real page gets its icon from its host.
    void warningPageThenRealPage()
    {
        BrowserWindow tab;
        const QUrl refused = server->url(QStringLiteral("/refused"));
        tab.showVPNWarning(refused);
        QTRY_COMPARE_WITH_TIMEOUT(tab.title(), QStringLiteral("Protected Network Required"), Slow);
        QCOMPARE(tab.url().toString(), QStringLiteral("about:vpn-required"));
        QVERIFY(tab.isShowingVPNWarning());
        QCOMPARE(tab.sessionUrl(), refused.toString());
        QTest::qWait(200);
        QCOMPARE(server->requests().size(), 0);

        loadHome(tab);
        QCOMPARE(tab.sessionUrl(), server->url(QStringLiteral("/")).toString());
        QVERIFY(!tab.refusedUrl().isValid());
        QTRY_COMPARE_WITH_TIMEOUT(tab.favicon().size(), QSize(16, 16), Slow);
        QTest::qWait(1000); // the engine asks for no icon of its own
        QCOMPARE(server->requestCount("/favicon.ico"), 1);
    }

    // print() overwrites one file in the temporary folder and opens it;
    // printToPdf writes where it is told; closing a printing tab is safe.
    void printing()
    {
        OpenedFiles opened;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
        BrowserWindow tab;
        loadHome(tab);
        tab.print();
        QTRY_COMPARE_WITH_TIMEOUT(opened.urls.size(), 1, Slow);
        const QString path = BrowserWindow::printFilePath();
        QVERIFY(path.startsWith(dir->tempDir()));
        QCOMPARE(opened.urls.at(0), QUrl::fromLocalFile(path));
        QFile pdf(path);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QCOMPARE(pdf.read(5), QByteArray("%PDF-"));
        QFile::resize(path, 3);
        tab.print();
        QTRY_COMPARE_WITH_TIMEOUT(opened.urls.size(), 2, Slow);
        QCOMPARE(opened.urls.at(1), opened.urls.at(0));
        QVERIFY(QFileInfo(path).size() > 100);

        const QString target = dir->path() + QStringLiteral("/out.pdf");
        tab.printToPdf(target);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(target).size() > 100, Slow);

        auto *closing = new BrowserWindow;
        closing->loadUrl(server->url(QStringLiteral("/")));
        closing->print();
        delete closing; // the engine used to abort here
        QTRY_COMPARE_WITH_TIMEOUT(opened.urls.size(), 3, Slow);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }

    void readerModeAndMute()
    {
        BrowserWindow tab;
        for (bool on : {true, false}) {
            tab.toggleReaderMode();
            QCOMPARE(tab.isReaderMode(), on);
            QCOMPARE(tab.webView()->page()->scripts().find(QStringLiteral("ReaderMode")).size(), on ? 1 : 0);
            tab.setMuted(on);
            QCOMPARE(tab.webView()->page()->isAudioMuted(), on);
        }
    }

    // Every show operation reuses the one tools view, raised above siblings.
    void devToolsMadeOnce()
    {
        QWebEngineView page(host.get());
        DevTools panel(&page, host.get());
        QWidget sibling(host.get());
        sibling.show();
        QWebEngineView *const tools = panel.devView();
        for (void (DevTools::*show)() : {&DevTools::showConsole, &DevTools::showNetwork, &DevTools::showElements}) {
            panel.hide();
            (panel.*show)();
            QVERIFY(panel.isVisible());
            QCOMPARE(panel.devView(), tools);
            QCOMPARE(page.page()->devToolsPage(), tools->page());
            QCOMPARE(host->findChildren<QWidget *>(Qt::FindDirectChildrenOnly).last(), &panel);
        }
        QTRY_COMPARE_WITH_TIMEOUT(tools->url().scheme(), QStringLiteral("devtools"), Slow);
    }

    // The panel outlives its page and then touches no page.
    void devToolsOutliveThePage()
    {
        auto page = std::make_unique<QWebEngineView>(host.get());
        DevTools panel(page.get(), host.get());
        page.reset();
        QVERIFY(!panel.inspectedView());
        panel.setupInspector();
        panel.showConsole();
        QVERIFY(panel.isVisible());
        QCoreApplication::processEvents();
        QVERIFY(!panel.devView()->page()->inspectedPage());
    }
};

QTEST_MAIN(TestBrowserWindow)
#include "tst_browserwindow.moc"
