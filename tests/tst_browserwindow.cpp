#include "BrowserWindow.h"
#include "DevTools.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"

#include <QDesktopServices>
#include <QFile>
#include <QSignalSpy>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>
#include <QtTest>
#include <memory>

// Receives the desktop's "open this file" requests instead of a real viewer.
class OpenedFiles : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

class TestBrowserWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<TestHttpServer> server;

    static QByteArray pngBytes()
    {
        QImage image(16, 16, QImage::Format_ARGB32);
        image.fill(Qt::cyan);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Start the engine before warnings count: it announces the missing GPU once.
        QWebEngineProfile::defaultProfile();
        QWebEngineView warmUp;
        warmUp.setHtml(QStringLiteral("<p>x</p>"));
        QTest::qWait(100);
    }

    void init()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(
            "^(?!This plugin does not support|No suitable graphics backend|WebEngineContext used before).*")));
        dir = std::make_unique<TempDataDir>();
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->listen());
        server->setPage("/", "<html><head><title>Home</title></head><body><p>hello world</p></body></html>");
        server->setPage("/favicon.ico", pngBytes(), "image/png");
        server->setPage("/file.bin", QByteArray(2048, 'z'), "application/octet-stream");
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
        QTest::newRow("upper bound") << 5.0 << 5.0;
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

    void zoomStepsStopAtTheBounds()
    {
        BrowserWindow tab;
        for (int i = 0; i < 60; ++i)
            tab.zoomIn();
        QCOMPARE(tab.zoomFactor(), 5.0);
        for (int i = 0; i < 60; ++i)
            tab.zoomOut();
        QCOMPARE(tab.zoomFactor(), 0.25);
        tab.zoomReset();
        QCOMPARE(tab.zoomFactor(), 1.0);
    }

    void warningPageAddressAndNoFaviconFetch()
    {
        BrowserWindow tab;
        QSignalSpy urls(&tab, &BrowserWindow::urlChanged);
        tab.showVPNWarning(server->url(QStringLiteral("/")));
        QTRY_COMPARE_WITH_TIMEOUT(tab.url().toString(), QStringLiteral("about:vpn-required"), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(tab.title(), QStringLiteral("Protected Network Required"), 20000);
        QVERIFY(tab.isShowingVPNWarning());
        QCOMPARE(tab.sessionUrl(), server->url(QStringLiteral("/")).toString());
        QTest::qWait(200);
        QCOMPARE(server->requests().size(), 0);
    }

    void refusedAddressIsForgottenOnRealNavigation()
    {
        BrowserWindow tab;
        tab.showVPNWarning(QUrl(QStringLiteral("https://refused.example/")));
        QTRY_VERIFY_WITH_TIMEOUT(tab.isShowingVPNWarning(), 20000);
        tab.loadUrl(server->url(QStringLiteral("/")));
        QTRY_COMPARE_WITH_TIMEOUT(tab.title(), QStringLiteral("Home"), 20000);
        QCOMPARE(tab.sessionUrl(), server->url(QStringLiteral("/")).toString());
        QVERIFY(!tab.refusedUrl().isValid());
    }

    void faviconArrivesForThePageHost()
    {
        BrowserWindow tab;
        QSignalSpy icons(&tab, &BrowserWindow::faviconChanged);
        tab.loadUrl(server->url(QStringLiteral("/")));
        QTRY_VERIFY_WITH_TIMEOUT(icons.size() >= 1, 20000);
        QVERIFY(!tab.favicon().isNull());
        QCOMPARE(tab.favicon().size(), QSize(16, 16));
        QVERIFY(server->requestCount("/favicon.ico") >= 1);
    }

    void printWritesAndOpensTheSameFile()
    {
        OpenedFiles opened;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
        BrowserWindow tab;
        tab.loadUrl(server->url(QStringLiteral("/")));
        QTRY_COMPARE_WITH_TIMEOUT(tab.title(), QStringLiteral("Home"), 20000);
        tab.print();
        QTRY_COMPARE_WITH_TIMEOUT(opened.urls.size(), 1, 30000);
        const QString path = BrowserWindow::printFilePath();
        QVERIFY(path.startsWith(dir->tempDir()));
        QCOMPARE(opened.urls.at(0), QUrl::fromLocalFile(path));
        QFile pdf(path);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.read(5) == "%PDF-");
        pdf.close();
        QFile::resize(path, 3);
        tab.print();
        QTRY_COMPARE_WITH_TIMEOUT(opened.urls.size(), 2, 30000);
        QCOMPARE(opened.urls.at(1), opened.urls.at(0));
        QVERIFY(QFileInfo(path).size() > 100);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }

    void printToPdfWritesTheGivenFile()
    {
        BrowserWindow tab;
        tab.loadUrl(server->url(QStringLiteral("/")));
        QTRY_COMPARE_WITH_TIMEOUT(tab.title(), QStringLiteral("Home"), 20000);
        const QString target = dir->path() + QStringLiteral("/out.pdf");
        tab.printToPdf(target);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(target).size() > 100, 30000);
    }

    void devToolsAreCreatedOnceAndToggle()
    {
        QWidget host;
        auto *tab = new BrowserWindow(&host);
        QVERIFY(!tab->isDevToolsVisible());
        tab->showDevTools();
        QVERIFY(tab->isDevToolsVisible());
        DevTools *panel = tab->devToolsPanel();
        tab->hideDevTools();
        QVERIFY(!tab->isDevToolsVisible());
        tab->showDevTools();
        QCOMPARE(tab->devToolsPanel(), panel);
        delete tab; // deletes its panel too
    }

    void readerModeScriptComesAndGoes()
    {
        BrowserWindow tab;
        tab.toggleReaderMode();
        QVERIFY(tab.isReaderMode());
        QCOMPARE(tab.webView()->page()->scripts().find(QStringLiteral("ReaderMode")).size(), 1);
        tab.toggleReaderMode();
        QVERIFY(!tab.isReaderMode());
        QVERIFY(tab.webView()->page()->scripts().find(QStringLiteral("ReaderMode")).isEmpty());
    }

    void muteReachesThePage()
    {
        BrowserWindow tab;
        tab.setMuted(true);
        QVERIFY(tab.isMuted());
        QVERIFY(tab.webView()->page()->isAudioMuted());
        tab.setMuted(false);
        QVERIFY(!tab.webView()->page()->isAudioMuted());
    }

    void eachDownloadLeavesThroughOneTab()
    {
        server->route("/file.bin", [](const TestHttpServer::Request &) {
            TestHttpServer::Response r;
            r.body = QByteArray(2048, 'z');
            r.contentType = "application/octet-stream";
            r.headers.append(qMakePair(QByteArray("Content-Disposition"), QByteArray("attachment; filename=\"file.bin\"")));
            return r;
        });
        BrowserWindow first, second, third;
        int relayed = 0;
        BrowserWindow *relayer = nullptr;
        for (BrowserWindow *tab : {&first, &second, &third}) {
            connect(tab, &BrowserWindow::downloadRequested, this, [&relayed, &relayer, tab](QWebEngineDownloadRequest *d) {
                ++relayed;
                relayer = tab;
                d->cancel();
            });
        }
        second.loadUrl(server->url(QStringLiteral("/file.bin")));
        QTRY_COMPARE_WITH_TIMEOUT(relayed, 1, 20000);
        QTest::qWait(300);
        QCOMPARE(relayed, 1);
        QCOMPARE(relayer, &second);
    }

    void closingATabWhilePrintingIsSafe()
    {
        OpenedFiles opened;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
        auto *tab = new BrowserWindow;
        tab->loadUrl(server->url(QStringLiteral("/")));
        tab->print();
        delete tab; // the engine used to abort here
        QTRY_COMPARE_WITH_TIMEOUT(opened.urls.size(), 1, 30000);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }
};

QTEST_MAIN(TestBrowserWindow)
#include "tst_browserwindow.moc"
