#include "FaviconManager.h"
#include "TestHttpServer.h"

#include <QBuffer>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPixmap>
#include <QtTest>

// Records the icon address the manager asks for and sends every http(s)
// request to the loopback test server instead, whatever host or port it names.
class LoopbackNetwork : public QNetworkAccessManager
{
public:
    explicit LoopbackNetwork(quint16 port) : port(port) {}
    QList<QUrl> asked;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request,
                                 QIODevice *data) override
    {
        asked.append(request.url());
        QNetworkRequest redirected(request);
        QUrl url = request.url();
        if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) {
            url.setScheme(QStringLiteral("http"));
            url.setHost(QStringLiteral("127.0.0.1"));
            url.setPort(port);
            redirected.setUrl(url);
        }
        return QNetworkAccessManager::createRequest(op, redirected, data);
    }

private:
    quint16 port;
};

static QByteArray png(QSize size, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(size, format);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

class TestFavicon : public QObject
{
    Q_OBJECT

    TestHttpServer *server = nullptr;
    LoopbackNetwork *network = nullptr;
    FaviconManager *manager = nullptr;

    void serveIcon(const QByteArray &body, int status = 200)
    {
        server->setPage("/favicon.ico", body, "image/png", status);
    }
    void redirectIcon(const QByteArray &location)
    {
        server->route("/favicon.ico", [location](const TestHttpServer::Request &) {
            TestHttpServer::Response r;
            r.status = 302;
            r.headers.append({"Location", location});
            return r;
        });
    }

private Q_SLOTS:
    void init()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        server = new TestHttpServer(this);
        QVERIFY(server->listen());
        network = new LoopbackNetwork(server->port());
        manager = new FaviconManager(network, this);
        serveIcon(png(QSize(16, 16)));
    }
    void cleanup()
    {
        delete manager;
        delete server;
    }

    void faviconUrl_data()
    {
        QTest::addColumn<QUrl>("page");
        QTest::addColumn<QUrl>("icon");
        QTest::newRow("path, query and fragment dropped")
            << QUrl("http://example.com/a/b?q=1#f") << QUrl("http://example.com/favicon.ico");
        QTest::newRow("user info dropped, port kept")
            << QUrl("https://user:pw@example.com:8443/x") << QUrl("https://example.com:8443/favicon.ico");
        QTest::newRow("8080 asks its own port")
            << QUrl("http://example.com:8080/") << QUrl("http://example.com:8080/favicon.ico");
        QTest::newRow("upper case") << QUrl("HTTP://EXAMPLE.COM/") << QUrl("http://example.com/favicon.ico");
        QTest::newRow("ipv6 keeps brackets")
            << QUrl("http://[::1]:8080/x") << QUrl("http://[::1]:8080/favicon.ico");
        QTest::newRow("idn") << QUrl(QStringLiteral("https://bücher.example/"))
                             << QUrl("https://xn--bcher-kva.example/favicon.ico");
    }
    void faviconUrl()
    {
        QFETCH(QUrl, page);
        QFETCH(QUrl, icon);
        const QUrl built = FaviconManager::faviconUrl(page);
        QVERIFY(built.isValid());
        QCOMPARE(built, icon);
        QCOMPARE(built.port(), page.port());
    }

    void cacheKeyAndFetchable_data()
    {
        QTest::addColumn<QUrl>("page");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("fetchable");
        QTest::newRow("http") << QUrl("http://example.com:8080/a") << "example.com" << true;
        QTest::newRow("https same key") << QUrl("https://example.com/b") << "example.com" << true;
        QTest::newRow("idn decoded") << QUrl("https://xn--bcher-kva.de/")
                                     << QStringLiteral("bücher.de") << true;
        QTest::newRow("file") << QUrl("file:///etc/hostname") << "" << false;
        QTest::newRow("file with host") << QUrl("file://server/share") << "server" << false;
        QTest::newRow("about") << QUrl("about:vpn-required") << "" << false;
        QTest::newRow("data") << QUrl("data:text/html,hi") << "" << false;
        QTest::newRow("ftp") << QUrl("ftp://example.com/") << "example.com" << false;
        QTest::newRow("no host") << QUrl("http:///path") << "" << false;
        QTest::newRow("empty") << QUrl() << "" << false;
    }
    void cacheKeyAndFetchable()
    {
        QFETCH(QUrl, page);
        QFETCH(QString, key);
        QFETCH(bool, fetchable);
        QCOMPARE(FaviconManager::cacheKey(page), key);
        QCOMPARE(FaviconManager::isFetchable(page), fetchable);
    }

    void nonWebPagesFetchNothing()
    {
        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        for (const char *page : {"file:///etc/hostname", "about:blank", "data:text/html,x",
                                 "ftp://example.com/", "http:///nohost", ""})
            manager->loadFavicon(QUrl(page));
        QTest::qWait(50);
        QCOMPARE(network->asked.size(), 0);
        QCOMPARE(server->requests().size(), 0);
        QCOMPARE(loaded.size(), 0);
    }

    void fetchThenCacheHitIsSynchronous()
    {
        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        const QUrl first("http://site.test:8080/page?q=1");
        manager->loadFavicon(first);
        QCOMPARE(loaded.size(), 0); // a fetch is asynchronous
        QTRY_COMPARE(loaded.size(), 1);
        QCOMPARE(loaded.at(0).at(0).toUrl(), first);
        QCOMPARE(loaded.at(0).at(1).value<QPixmap>().size(), QSize(16, 16));
        QCOMPARE(network->asked, QList<QUrl>{QUrl("http://site.test:8080/favicon.ico")});
        QCOMPARE(server->requestCount("/favicon.ico"), 1);

        // Same host, other scheme, port and path: answered from the cache at once.
        const QUrl second("https://site.test/other");
        manager->loadFavicon(second);
        QCOMPARE(loaded.size(), 2);
        QCOMPARE(loaded.at(1).at(0).toUrl(), second);
        QCOMPARE(loaded.at(1).at(1).value<QPixmap>().size(), QSize(16, 16));
        QCOMPARE(network->asked.size(), 1);

        QCOMPARE(manager->favicon(QUrl("http://site.test/x")).size(), QSize(16, 16));
    }

    void httpsPageAsksHttpsIcon()
    {
        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        manager->loadFavicon(QUrl("https://secure.test:8443/a"));
        QTRY_COMPARE(loaded.size(), 1);
        QCOMPARE(network->asked, QList<QUrl>{QUrl("https://secure.test:8443/favicon.ico")});
        manager->loadFavicon(QUrl("http://secure.test/"));
        QCOMPARE(loaded.size(), 2);
        QCOMPARE(network->asked.size(), 1);
    }

    // Each failing answer: no signal, nothing cached, so the next load asks again.
    void failuresAreSilentAndNotCached_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("redirect");
        const QByteArray icon = png(QSize(16, 16));
        QTest::newRow("404 with an image body") << 404 << icon << QByteArray();
        QTest::newRow("500") << 500 << QByteArray("oops") << QByteArray();
        QTest::newRow("html") << 200 << QByteArray("<html><body>no icon</body></html>") << QByteArray();
        QTest::newRow("empty") << 200 << QByteArray() << QByteArray();
        QTest::newRow("truncated png") << 200 << icon.left(icon.size() / 2) << QByteArray();
        // A valid image followed by padding decodes fine unless the size cap holds.
        QTest::newRow("over 1 MiB")
            << 200 << icon + QByteArray(FaviconManager::kMaxIconBytes + 1 - icon.size(), '\0')
            << QByteArray();
        QTest::newRow("huge canvas") << 200 << png(QSize(5000, 5000), QImage::Format_Mono) << QByteArray();
        QTest::newRow("redirect to file") << 302 << QByteArray() << QByteArray("file:///etc/hostname");
        QTest::newRow("redirect to data")
            << 302 << QByteArray() << ("data:image/png;base64," + icon.toBase64());
        QTest::newRow("redirect loop") << 302 << QByteArray() << QByteArray("/favicon.ico");
    }
    void failuresAreSilentAndNotCached()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, redirect);
        if (redirect.isEmpty())
            serveIcon(body, status);
        else
            redirectIcon(redirect);

        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        QSignalSpy finished(network, &QNetworkAccessManager::finished);
        const QUrl page("http://broken.test/");
        manager->loadFavicon(page);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(loaded.size(), 0);
        QCOMPARE(manager->favicon(page).size(), QSize(32, 32)); // the fallback

        manager->loadFavicon(page);
        QTRY_COMPARE(finished.size(), 2);
        QCOMPARE(network->asked.size(), 2);
        QCOMPARE(loaded.size(), 0);
    }

    void redirectWithinHttpIsFollowed()
    {
        server->setPage("/real.ico", png(QSize(8, 8)), "image/png");
        redirectIcon("/real.ico");
        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        const QUrl page("http://moved.test/");
        manager->loadFavicon(page);
        QTRY_COMPARE(loaded.size(), 1);
        QCOMPARE(loaded.at(0).at(0).toUrl(), page);
        QCOMPARE(loaded.at(0).at(1).value<QPixmap>().size(), QSize(8, 8));
    }

    void justUnderTheSizeCapIsAccepted()
    {
        const QByteArray icon = png(QSize(16, 16));
        serveIcon(icon + QByteArray(FaviconManager::kMaxIconBytes - icon.size(), '\0'));
        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        manager->loadFavicon(QUrl("http://big.test/"));
        QTRY_COMPARE(loaded.size(), 1);
    }

    void largeIconIsScaledDown()
    {
        serveIcon(png(QSize(1024, 512)));
        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        manager->loadFavicon(QUrl("http://wide.test/"));
        QTRY_COMPARE(loaded.size(), 1);
        QCOMPARE(loaded.at(0).at(1).value<QPixmap>().size(), QSize(256, 128));
    }

    void stalledServerTimesOut()
    {
        server->route("/favicon.ico", [](const TestHttpServer::Request &) {
            TestHttpServer::Response r;
            r.body = png(QSize(16, 16));
            r.contentType = "image/png";
            r.delayMs = 5000;
            return r;
        });
        manager->setTransferTimeout(200);
        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        QSignalSpy finished(network, &QNetworkAccessManager::finished);
        QElapsedTimer timer;
        timer.start();
        manager->loadFavicon(QUrl("http://slow.test/"));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 3000);
        QVERIFY(timer.elapsed() < 3000);
        QCOMPARE(loaded.size(), 0);
    }

    void leastRecentlyUsedHostIsEvicted()
    {
        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        auto page = [](int i) { return QUrl(QStringLiteral("http://host%1.test/").arg(i)); };
        for (int i = 0; i < FaviconManager::kCacheHosts; ++i)
            manager->loadFavicon(page(i));
        QTRY_COMPARE(loaded.size(), FaviconManager::kCacheHosts);

        manager->loadFavicon(page(0)); // host0 becomes the most recently used
        QCOMPARE(loaded.size(), FaviconManager::kCacheHosts + 1);
        const int asked = network->asked.size();

        manager->loadFavicon(page(100));
        QTRY_COMPARE(loaded.size(), FaviconManager::kCacheHosts + 2);
        QCOMPARE(network->asked.size(), asked + 1);

        // host1 was the least recently used and is gone; host0 and host2 stay.
        manager->loadFavicon(page(0));
        manager->loadFavicon(page(2));
        QCOMPARE(loaded.size(), FaviconManager::kCacheHosts + 4);
        QCOMPARE(network->asked.size(), asked + 1);
        manager->loadFavicon(page(1));
        QCOMPARE(loaded.size(), FaviconManager::kCacheHosts + 4);
        QCOMPARE(network->asked.size(), asked + 2);
        QCOMPARE(network->asked.last(), QUrl("http://host1.test/favicon.ico"));
    }

    void fallbackIsTheBuiltInImage()
    {
        const QImage expected(QStringLiteral(ORVEX_TEST_DATA_DIR "/../../resources/icons/default-favicon.png"));
        QVERIFY(!expected.isNull());
        const QPixmap fallback = manager->favicon(QUrl("http://uncached.test/"));
        QVERIFY(!fallback.isNull());
        // Compared premultiplied: that is how the pixmap holds it.
        QCOMPARE(fallback.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 expected.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }
};

QTEST_MAIN(TestFavicon)
#include "tst_favicon.moc"
