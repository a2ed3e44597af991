#include "FaviconManager.h"
#include "TestHttpServer.h"

#include <QtGui>
#include <QtNetwork>
#include <QtTest>

Q_DECLARE_METATYPE(TestHttpServer::Response)

using namespace Qt::StringLiterals;

// Records the icon address asked for and sends every http(s) request to the
// loopback test server, whatever host or port it names.
class LoopbackNetwork : public QNetworkAccessManager
{
public:
    explicit LoopbackNetwork(quint16 port) : port(port) {}
    QList<QUrl> asked;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *data) override
    {
        asked.append(request.url());
        QNetworkRequest redirected(request);
        if (request.url().scheme().startsWith(u"http"_s))
            redirected.setUrl(QUrl(u"http://127.0.0.1:%1%2"_s.arg(port).arg(request.url().path())));
        return QNetworkAccessManager::createRequest(op, redirected, data);
    }
    const quint16 port;
};

static QByteArray png(QSize size, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(size, format);
    image.fill(Qt::red);
    QBuffer buffer;
    image.save(&buffer, "PNG");
    return buffer.data();
}

class TestFavicon : public QObject
{
    Q_OBJECT

    TestHttpServer *server = nullptr;
    LoopbackNetwork *network = nullptr;
    FaviconManager *manager = nullptr;

    void serveIcon(const TestHttpServer::Response &reply)
    {
        server->route("/favicon.ico", [reply](const TestHttpServer::Request &) { return reply; });
    }

private Q_SLOTS:
    void init()
    {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        server = new TestHttpServer(this);
        QVERIFY(server->listen());
        network = new LoopbackNetwork(server->port());
        manager = new FaviconManager(network, this);
        serveIcon({200, "image/png", png(QSize(16, 16))});
    }
    void cleanup()
    {
        delete manager;
        delete server;
    }

    void hostRules_data()
    {
        QTest::addColumn<QUrl>("page");
        QTest::addColumn<QUrl>("icon");
        QTest::addColumn<QString>("key");
        const QUrl none; // not a web page, never fetched
        QTest::newRow("path, query, fragment dropped")
            << QUrl("http://example.com/a/b?q=1#f") << QUrl("http://example.com/favicon.ico") << "example.com";
        QTest::newRow("user info dropped, port kept")
            << QUrl("https://u:pw@example.com:8443/x") << QUrl("https://example.com:8443/favicon.ico") << "example.com";
        QTest::newRow("ipv6 keeps brackets") << QUrl("http://[::1]:8080/x") << QUrl("http://[::1]:8080/favicon.ico") << "::1";
        QTest::newRow("idn") << QUrl(u"https://bücher.de/"_s)
                             << QUrl("https://xn--bcher-kva.de/favicon.ico") << u"bücher.de"_s;
        QTest::newRow("file") << QUrl("file:///etc/hostname") << none << "";
        QTest::newRow("ftp") << QUrl("ftp://example.com/") << none << "example.com";
    }
    // Another page of the same host (other scheme, port, path) is answered from the cache.
    void hostRules()
    {
        QFETCH(QUrl, page);
        QFETCH(QUrl, icon);
        QTEST(FaviconManager::cacheKey(page), "key");
        QCOMPARE(FaviconManager::isFetchable(page), !icon.isEmpty());
        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        manager->loadFavicon(page);
        manager->loadFavicon(page); // the fetch under way answers both
        QCOMPARE(loaded.size(), 0);
        if (icon.isEmpty()) {
            QCOMPARE(network->asked.size(), 0);
            return;
        }
        QCOMPARE(network->asked, QList<QUrl>{icon});
        QTRY_COMPARE(loaded.size(), 1);
        QCOMPARE(loaded.at(0).at(0).toUrl(), page);

        QUrl other = page;
        other.setScheme(page.scheme() == u"http"_s ? u"https"_s : u"http"_s);
        other.setPort(-1);
        other.setPath(u"/other"_s);
        manager->loadFavicon(other);
        QCOMPARE(loaded.size(), 2);
        QCOMPARE(loaded.at(1).at(0).toUrl(), other);
        QCOMPARE(network->asked.size(), 1);
    }

    // An empty size: refused, the fallback stays, nothing cached.
    void iconReplies_data()
    {
        QTest::addColumn<TestHttpServer::Response>("reply");
        QTest::addColumn<QSize>("shown");
        using R = TestHttpServer::Response;
        const QByteArray icon = png(QSize(16, 16)), type = "image/png";
        const int cap = FaviconManager::kMaxIconBytes;
        auto redirect = [](const char *to) { return R{302, "text/plain", {}, {{"Location", to}}}; };
        QTest::newRow("just under the size cap") << R{200, type, icon + QByteArray(cap - icon.size(), '\0')} << QSize(16, 16);
        QTest::newRow("large icon scaled down") << R{200, type, png(QSize(1024, 512))} << QSize(256, 128);
        QTest::newRow("redirect within http") << redirect("/real.ico") << QSize(8, 8);
        QTest::newRow("404 with an image body") << R{404, type, icon} << QSize();
        QTest::newRow("over 1 MiB") << R{200, type, icon + QByteArray(cap + 1 - icon.size(), '\0')} << QSize();
        QTest::newRow("huge canvas") << R{200, type, png(QSize(5000, 5000), QImage::Format_Mono)} << QSize();
        QTest::newRow("redirect to file") << redirect("file:///etc/hostname") << QSize();
        QTest::newRow("stalled server") << R{200, type, icon, {}, 5000} << QSize();
        QTest::newRow("redirect loop") << redirect("/favicon.ico") << QSize();
    }
    void iconReplies()
    {
        QFETCH(TestHttpServer::Response, reply);
        QFETCH(QSize, shown);
        manager->setTransferTimeout(200);
        server->setPage("/real.ico", png(QSize(8, 8)), "image/png");
        serveIcon(reply);
        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        QSignalSpy finished(network, &QNetworkAccessManager::finished);
        const QUrl page("http://icon.test/");
        manager->loadFavicon(page);
        if (shown.isValid()) {
            QTRY_COMPARE(loaded.size(), 1);
            QCOMPARE(loaded.at(0).at(0).toUrl(), page);
            QCOMPARE(loaded.at(0).at(1).value<QPixmap>().size(), shown);
            return;
        }
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(manager->favicon(page).size(), QSize(32, 32));
        manager->loadFavicon(page);
        QTRY_COMPARE(finished.size(), 2);
        QCOMPARE(network->asked.size(), 2);
        QCOMPARE(loaded.size(), 0);
    }

    void leastRecentlyUsedHostIsEvicted()
    {
        const int n = FaviconManager::kCacheHosts;
        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        auto load = [this](int i) { manager->loadFavicon(QUrl(u"http://host%1.test/"_s.arg(i))); };
        // One at a time: recency follows the order in which icons arrive.
        for (int i = 0; i < n; ++i) {
            load(i);
            QTRY_COMPARE(loaded.size(), i + 1);
        }
        load(0); // host0 becomes the most recently used
        QCOMPARE(loaded.size(), n + 1);
        const int asked = network->asked.size();
        load(100);
        QTRY_COMPARE(loaded.size(), n + 2);
        QCOMPARE(network->asked.size(), asked + 1);

        // host1 was the least recently used: only it is fetched again.
        load(0);
        load(2);
        QCOMPARE(network->asked.size(), asked + 1);
        load(1);
        QCOMPARE(network->asked.last(), QUrl("http://host1.test/favicon.ico"));
    }
};

QTEST_MAIN(TestFavicon)
#include "tst_favicon.moc"
