#include "FaviconManager.h"
#include "TestHttpServer.h"
#include "VpnGate.h"

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
        // Without a VPN manager nobody opens the kill switch: these tests do.
        VpnGate::setOpen(true);
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

    // Two tabs of one host, then another page of it (other scheme, port,
    // path): one fetch, from the page's own origin with its port.
    void oneFetchPerHost()
    {
        const QUrl page("https://u:pw@example.com:8443/a?q=1#f");
        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        manager->loadFavicon(page);
        manager->loadFavicon(page);
        QCOMPARE(network->asked, QList<QUrl>{QUrl("https://example.com:8443/favicon.ico")});
        QTRY_COMPARE(loaded.size(), 1);
        QCOMPARE(loaded.at(0).at(0).toUrl(), page);
        const QUrl other("http://example.com/other");
        manager->loadFavicon(other);
        QCOMPARE(loaded.size(), 2);
        QCOMPARE(loaded.at(1).at(0).toUrl(), other);
        QCOMPARE(network->asked.size(), 1);
    }

    // Refused: the fallback stays and nothing is cached.
    void hostileReplies_data()
    {
        QTest::addColumn<TestHttpServer::Response>("reply");
        using R = TestHttpServer::Response;
        const QByteArray icon = png(QSize(16, 16)), type = "image/png";
        const int cap = FaviconManager::kMaxIconBytes;
        auto redirect = [](const char *to) { return R{302, "text/plain", {}, {{"Location", to}}}; };
        QTest::newRow("over 1 MiB") << R{200, type, icon + QByteArray(cap + 1 - icon.size(), '\0')};
        QTest::newRow("huge canvas") << R{200, type, png(QSize(5000, 5000), QImage::Format_Mono)};
        QTest::newRow("redirect to file") << redirect("file:///etc/hostname");
        QTest::newRow("stalled server") << R{200, type, icon, {}, 5000};
    }
    void hostileReplies()
    {
        QFETCH(TestHttpServer::Response, reply);
        manager->setTransferTimeout(200);
        serveIcon(reply);
        QSignalSpy loaded(manager, &FaviconManager::faviconLoaded);
        QSignalSpy finished(network, &QNetworkAccessManager::finished);
        const QUrl page("http://icon.test/");
        manager->loadFavicon(page);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(manager->favicon(page).size(), QSize(32, 32));
        manager->loadFavicon(page);
        QTRY_COMPARE(finished.size(), 2);
        QCOMPARE(network->asked.size(), 2);
        QCOMPARE(loaded.size(), 0);
    }
};

QTEST_MAIN(TestFavicon)
#include "tst_favicon.moc"
