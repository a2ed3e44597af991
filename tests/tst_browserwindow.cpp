#include "BrowserWindow.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"
#include "VpnGate.h"

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

private Q_SLOTS:
    void initTestCase()
    {
        // Without a VPN manager nobody opens the kill switch: these tests do.
        VpnGate::setOpen(true);
        // Start the engine before warnings count: it announces the missing GPU once.
        QWebEngineView warm;
        QSignalSpy loaded(&warm, &QWebEngineView::loadFinished);
        warm.setHtml(QStringLiteral("<p>warm</p>"));
        QVERIFY(loaded.wait(Slow));
    }
    void init()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(
            "^(?!This plugin does not support|No suitable graphics backend|WebEngineContext used before).*")));
        dir = std::make_unique<TempDataDir>();
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->listen());
        server->setPage("/", "<html><head><title>Home</title></head><body><p>hello world</p></body></html>");
    }
    void cleanup()
    {
        BrowserWindow::finishPendingPrints();
        server.reset();
        dir.reset();
    }

    // print() writes one file in the temporary folder and opens it;
    // printToPdf writes where it is told; closing a printing tab is safe.
    void printing()
    {
        OpenedFiles opened;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
        BrowserWindow tab;
        tab.loadUrl(server->url(QStringLiteral("/")));
        QTRY_COMPARE_WITH_TIMEOUT(tab.title(), QStringLiteral("Home"), Slow);
        tab.print();
        QTRY_COMPARE_WITH_TIMEOUT(opened.urls.size(), 1, Slow);
        const QString path = BrowserWindow::printFilePath();
        QVERIFY(path.startsWith(dir->tempDir()));
        QCOMPARE(opened.urls.at(0), QUrl::fromLocalFile(path));
        QFile pdf(path);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QCOMPARE(pdf.read(5), QByteArray("%PDF-"));

        const QString target = dir->path() + QStringLiteral("/out.pdf");
        tab.printToPdf(target);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(target).size() > 100, Slow);

        auto *closing = new BrowserWindow;
        closing->loadUrl(server->url(QStringLiteral("/")));
        closing->print();
        delete closing; // the engine used to abort here
        QTRY_COMPARE_WITH_TIMEOUT(opened.urls.size(), 2, Slow);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }
};

QTEST_MAIN(TestBrowserWindow)
#include "tst_browserwindow.moc"
