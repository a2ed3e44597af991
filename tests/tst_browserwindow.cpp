#include "BrowserWindow.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"
#include "VpnGate.h"

#include <QtTest>
#include <QtWebEngineCore>
#include <QtWebEngineWidgets>
#include <QtWidgets>
#include <memory>
#include <sys/stat.h>

static constexpr int Slow = 20000; // page loads and PDF rendering on a busy machine

static int modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode) : -1;
}

static bool put(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

static QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

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

    // print() writes one file, 0600, in this user's private folder (0700) and opens
    // it: a link planted at the old shared place is left alone. printToPdf writes
    // where it is told; closing a printing tab is safe.
    void printing()
    {
        OpenedFiles opened;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
        const QString victim = dir->path() + QStringLiteral("/victim");
        QVERIFY(put(victim, "precious"));
        QVERIFY(QFile::link(victim, dir->tempDir() + QStringLiteral("/orvexbrowser_print.pdf")));
        BrowserWindow tab;
        tab.loadUrl(server->url(QStringLiteral("/")));
        QTRY_COMPARE_WITH_TIMEOUT(tab.title(), QStringLiteral("Home"), Slow);
        tab.print();
        QTRY_COMPARE_WITH_TIMEOUT(opened.urls.size(), 1, Slow);
        const QString path = BrowserWindow::printFilePath();
        QCOMPARE(path, dir->runtimeDir() + QStringLiteral("/orvexbrowser/orvexbrowser_print.pdf"));
        QCOMPARE(opened.urls.at(0), QUrl::fromLocalFile(path));
        QCOMPARE(modeOf(path), 0100600);
        QCOMPARE(modeOf(QFileInfo(path).path()), 040700);
        QCOMPARE(readAll(path).left(5), QByteArray("%PDF-"));
        QCOMPARE(readAll(victim), QByteArray("precious"));

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

    // A print that cannot be written says so, instead of doing nothing: something not
    // ours at the file's name, or no private folder to be had.
    void printFailuresAreReported()
    {
        BrowserWindow tab;
        QSignalSpy failed(&tab, &BrowserWindow::printFailed);
        const QString path = BrowserWindow::printFilePath();
        QVERIFY(QDir().mkpath(path));
        tab.loadUrl(server->url(QStringLiteral("/")));
        QTRY_COMPARE_WITH_TIMEOUT(tab.title(), QStringLiteral("Home"), Slow);
        tab.print();
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, Slow);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("Printing failed: could not write ") + path);

        const QString notAFolder = dir->path() + QStringLiteral("/not-a-folder");
        QVERIFY(put(notAFolder, "x"));
        qputenv("XDG_RUNTIME_DIR", "");
        qputenv("TMPDIR", QFile::encodeName(notAFolder));
        tab.print();
        QCOMPARE(failed.size(), 2);
        QCOMPARE(failed.at(1).at(0).toString(), QStringLiteral("Printing failed: no private folder for the file"));
    }
};

QTEST_MAIN(TestBrowserWindow)
#include "tst_browserwindow.moc"
