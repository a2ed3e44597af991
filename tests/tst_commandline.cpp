#include "CommandLine.h"
#include "EngineProxy.h"
#include "SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QtTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// `orvexbrowser [URL|FILE ...]` and the hand-over to a running window: what
// is accepted, and that the socket's other end cannot hurt the window.
class TestCommandLine : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString socketPath(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }

private Q_SLOTS:
    void arguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<int>("errors");
        QTest::addColumn<bool>("help");
        QTest::addColumn<bool>("version");
        QTest::newRow("web address") << QStringList{"https://example.org/a?b#c"}
                                     << QStringList{"https://example.org/a?b#c"} << 0 << false << false;
        QTest::newRow("upper-case scheme") << QStringList{"HTTP://Example.org"} << QStringList{"http://example.org"}
                                           << 0 << false << false;
        QTest::newRow("bare host") << QStringList{"example.org/x"} << QStringList{"https://example.org/x"} << 0
                                   << false << false;
        QTest::newRow("localhost with port") << QStringList{"localhost:8080/x"}
                                             << QStringList{"http://localhost:8080/x"} << 0 << false << false;
        QTest::newRow("ip with port") << QStringList{"127.0.0.1:3000"} << QStringList{"http://127.0.0.1:3000"} << 0
                                      << false << false;
        QTest::newRow("absolute file") << QStringList{"/srv/docs/page.html"}
                                       << QStringList{"file:///srv/docs/page.html"} << 0 << false << false;
        QTest::newRow("relative file") << QStringList{"./page.html"} << QStringList{"file:///srv/docs/page.html"}
                                       << 0 << false << false;
        QTest::newRow("file url") << QStringList{"file:///etc/hosts"} << QStringList{"file:///etc/hosts"} << 0
                                  << false << false;
        QTest::newRow("several, in order") << QStringList{"https://a.test", "https://b.test"}
                                           << QStringList{"https://a.test", "https://b.test"} << 0 << false << false;
        QTest::newRow("javascript refused") << QStringList{"javascript:alert(1)"} << QStringList{} << 1 << false
                                            << false;
        QTest::newRow("data refused") << QStringList{"data:text/html,<script>x</script>"} << QStringList{} << 1
                                      << false << false;
        QTest::newRow("one word refused") << QStringList{"hello"} << QStringList{} << 1 << false << false;
        QTest::newRow("web address without host") << QStringList{"https://"} << QStringList{} << 1 << false
                                                  << false;
        QTest::newRow("help") << QStringList{"--help"} << QStringList{} << 0 << true << false;
        QTest::newRow("version") << QStringList{"--version"} << QStringList{} << 0 << false << true;
        QTest::newRow("engine options left alone") << QStringList{"--disable-gpu", "https://a.test"}
                                                   << QStringList{"https://a.test"} << 0 << false << false;
        QTest::newRow("after --, a dash is a name") << QStringList{"--", "--help"} << QStringList{}
                                                   << 1 << false << false;
    }
    void arguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, urls);
        QFETCH(int, errors);
        QFETCH(bool, help);
        QFETCH(bool, version);
        const CommandLine::Parsed parsed = CommandLine::parse(arguments, QStringLiteral("/srv/docs"));
        QStringList got;
        for (const QUrl &url : parsed.urls)
            got.append(url.toString());
        QCOMPARE(got, urls);
        QCOMPARE(parsed.errors.size(), errors);
        QCOMPARE(parsed.help, help);
        QCOMPARE(parsed.version, version);
    }

    // Our own requests follow the proxy given to the engine, with its rules.
    void proxyFromEngineFlags_data()
    {
        QTest::addColumn<QByteArray>("flags");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("proxy"); // "type host:port", or "none"
        const QByteArray proxy = "--disable-gpu --proxy-server=http://10.0.0.1:3128";
        QTest::newRow("no proxy given") << QByteArray("--disable-gpu") << "https://a.test/" << "none";
        QTest::newRow("http proxy, https site") << proxy << "https://a.test/" << "http 10.0.0.1:3128";
        QTest::newRow("http proxy, http site") << proxy << "http://a.test/favicon.ico" << "http 10.0.0.1:3128";
        QTest::newRow("loopback goes direct") << proxy << "http://127.0.0.1:8080/api/login" << "none";
        QTest::newRow("localhost goes direct") << proxy << "http://localhost:11434/api/generate" << "none";
        QTest::newRow("ipv6 loopback goes direct") << proxy << "http://[::1]:8080/" << "none";
        QTest::newRow("loopback through the proxy when asked")
            << QByteArray("--proxy-server=10.0.0.1:3128 --proxy-bypass-list=<-loopback>") << "http://127.0.0.1/"
            << "http 10.0.0.1:3128";
        QTest::newRow("no scheme is http") << QByteArray("--proxy-server=proxy.lan:8080") << "https://a.test/"
                                           << "http proxy.lan:8080";
        QTest::newRow("socks5") << QByteArray("--proxy-server=socks5://10.0.0.2:1080") << "https://a.test/"
                                << "socks5 10.0.0.2:1080";
        QTest::newRow("socks4 cannot be spoken") << QByteArray("--proxy-server=socks4://10.0.0.2:1080")
                                                 << "https://a.test/" << "none";
        QTest::newRow("per scheme") << QByteArray("--proxy-server=http=10.0.0.1:80;https=10.0.0.3:443")
                                    << "https://a.test/" << "http 10.0.0.3:443";
        QTest::newRow("bypass list") << QByteArray("--proxy-server=10.0.0.1:3128 --proxy-bypass-list=*.corp.test;intra")
                                     << "https://wiki.corp.test/" << "none";
        QTest::newRow("bypass list, other host") << QByteArray("--proxy-server=10.0.0.1:3128 --proxy-bypass-list=*.corp.test")
                                                 << "https://a.test/" << "http 10.0.0.1:3128";
        QTest::newRow("no-proxy-server wins") << QByteArray("--proxy-server=10.0.0.1:3128 --no-proxy-server")
                                              << "https://a.test/" << "none";
        QTest::newRow("quoted") << QByteArray("\"--proxy-server=10.0.0.1:3128\"") << "https://a.test/"
                                << "http 10.0.0.1:3128";
    }
    void proxyFromEngineFlags()
    {
        QFETCH(QByteArray, flags);
        QFETCH(QString, url);
        QFETCH(QString, proxy);
        const QNetworkProxy got = EngineProxy::proxyFor(EngineProxy::rulesFromFlags(flags), QUrl(url));
        const QString type = got.type() == QNetworkProxy::HttpProxy     ? QStringLiteral("http")
                           : got.type() == QNetworkProxy::Socks5Proxy ? QStringLiteral("socks5")
                                                                      : QStringLiteral("none");
        QCOMPARE(type == QLatin1String("none") ? type : type + u' ' + got.hostName() + u':' + QString::number(got.port()),
                 proxy);
    }

    void messages_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint64>("expected");
        const QByteArray good = SingleInstance::encode({QStringLiteral("https://a.test"), QStringLiteral("file:///x")});
        QTest::newRow("good") << good << true << qint64(good.size());
        QTest::newRow("header only") << QByteArray("ORVEX1 12") << false << qint64(0);
        QTest::newRow("truncated body") << good.left(good.size() - 2) << false << qint64(good.size());
        QTest::newRow("wrong magic") << QByteArray("HELLO 2\n[]") << false << qint64(-1);
        QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe garbage", 11) << false << qint64(-1);
        QTest::newRow("a gigabyte announced") << QByteArray("ORVEX1 1073741824\n[") << false << qint64(-1);
        QTest::newRow("negative length") << QByteArray("ORVEX1 -5\n") << false << qint64(-1);
        QTest::newRow("header without end") << QByteArray("ORVEX1 ") + QByteArray(40, '9') << false << qint64(-1);
        QTest::newRow("not an array") << QByteArray("ORVEX1 2\n{}") << false << qint64(11);
        QTest::newRow("numbers in the array") << QByteArray("ORVEX1 3\n[1]") << false << qint64(12);
    }
    void messages()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, valid);
        QFETCH(qint64, expected);
        QCOMPARE(SingleInstance::expectedSize(message), expected);
        QCOMPARE(SingleInstance::decode(message).has_value(), valid);
    }

    // A running window takes the addresses; a later start finds it.
    void handOver()
    {
        SingleInstance running(socketPath("a.sock"));
        QVERIFY(running.listen());
        QSignalSpy received(&running, &SingleInstance::urlsReceived);
        // The starting process blocks on its side: it runs in a thread of its own here.
        SingleInstance::Handover result = SingleInstance::Handover::NoneRunning;
        QThread *sender = QThread::create([&result, path = socketPath("a.sock")] {
            result = SingleInstance(path).sendToRunning({QStringLiteral("https://a.test/")}, 5000);
        });
        sender->start();
        QTRY_VERIFY(sender->isFinished());
        delete sender;
        QCOMPARE(result, SingleInstance::Handover::Delivered);
        QCOMPARE(received.size(), 1);
        QCOMPARE(received.at(0).at(0).toStringList(), QStringList{QStringLiteral("https://a.test/")});
    }

    // A socket file left by a crashed browser answers nobody: the next start
    // takes its place instead of giving up.
    void staleSocketIsReplaced()
    {
        const QByteArray path = QFile::encodeName(socketPath("stale.sock"));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.constData(), sizeof(address.sun_path));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
        ::close(fd);
        QVERIFY(QFileInfo::exists(QString::fromLocal8Bit(path)));

        SingleInstance starting(QString::fromLocal8Bit(path));
        QCOMPARE(starting.sendToRunning({QStringLiteral("https://a.test/")}, 500),
                 SingleInstance::Handover::NoneRunning);
        QVERIFY(starting.listen());
        QLocalSocket probe;
        probe.connectToServer(QString::fromLocal8Bit(path));
        QVERIFY(probe.waitForConnected(2000));
    }

    // Garbage, an announced gigabyte and a silent peer are dropped without a
    // word reaching the window; a good message after them still arrives.
    void hostilePeers()
    {
        SingleInstance running(socketPath("b.sock"));
        QVERIFY(running.listen());
        QSignalSpy received(&running, &SingleInstance::urlsReceived);
        const QList<QByteArray> attacks{QByteArray("GET / HTTP/1.1\r\n\r\n"), QByteArray("ORVEX1 1073741824\n"),
                                        QByteArray("ORVEX1 5\n[\"a\"]trailing"), QByteArray()};
        QList<QLocalSocket *> peers;
        for (const QByteArray &bytes : attacks) {
            auto *peer = new QLocalSocket(this);
            peer->connectToServer(socketPath("b.sock"));
            QVERIFY(peer->waitForConnected(2000));
            if (!bytes.isEmpty())
                peer->write(bytes);
            peers.append(peer);
        }
        // Every one of them is cut off, the silent one after a short wait.
        for (QLocalSocket *peer : std::as_const(peers))
            QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QLocalSocket::UnconnectedState, 5000);
        QCOMPARE(received.size(), 0);
        qDeleteAll(peers);

        QLocalSocket good;
        good.connectToServer(socketPath("b.sock"));
        QVERIFY(good.waitForConnected(2000));
        good.write(SingleInstance::encode({QStringLiteral("https://b.test/")}));
        QTRY_COMPARE(received.size(), 1);
        QTRY_VERIFY(good.bytesAvailable() > 0 || good.state() == QLocalSocket::UnconnectedState);
        QCOMPARE(good.readAll(), QByteArray("OK\n"));
    }

    // The socket's folder is ours alone: a link planted in its place is refused.
    void privateFolder()
    {
        const QString folder = dir.filePath(QStringLiteral("private"));
        QVERIFY(SingleInstance::ensurePrivateFolder(folder));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
        const QString planted = dir.filePath(QStringLiteral("planted"));
        QVERIFY(QFile::link(dir.path(), planted));
        QVERIFY(!SingleInstance::ensurePrivateFolder(planted));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
