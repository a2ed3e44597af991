#include "AccountServiceStub.h"
#include "AccountSyncManager.h"
#include "BrowserWindow.h"
#include "DownloadManager.h"
#include "DataManager.h"
#include "DownloadItem.h"
#include "PrivacyEngine.h"
#include "SidePanel.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "ModalAnswerer.h"
#include "ServiceEndpoints.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"
#include "VPNManager.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QtTest>
#include <memory>

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<FakeTools> tools;
    std::unique_ptr<TestHttpServer> server;

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

    static BrowserWindow *tabAt(MainWindow &w, int i) { return qobject_cast<BrowserWindow *>(w.tabs()->widget(i)); }

    QJsonArray storedSession() const { return QJsonDocument::fromJson(dir->readFile(QStringLiteral("session.json"))).array(); }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("OrvexVPN"));
        QCoreApplication::setApplicationName(QStringLiteral("OrvexBrowser"));
    }

    void init()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(
            "^(?!This plugin does not support|No suitable graphics backend|WebEngineContext used before).*")));
        dir = std::make_unique<TempDataDir>();
        tools = std::make_unique<FakeTools>();
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->listen());
        server->setPage("/", "<html><head><title>Orvex Home</title></head><body>home</body></html>");
        server->setPage("/a", "<html><head><title>Page A</title></head><body>a</body></html>");
        server->setPage("/b", "<html><head><title>Page B</title></head><body>b</body></html>");
        ServiceEndpoints::setAccountUrl(server->baseUrl());
    }
    void cleanup()
    {
        BrowserWindow::finishPendingPrints();
        server.reset();
        tools.reset();
        dir.reset();
        ServiceEndpoints::reset();
    }

    void addressRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address"); // empty: searched
        QTest::newRow("bare host") << "example.com" << "https://example.com";
        QTest::newRow("host and path") << "example.com/a?b=c" << "https://example.com/a?b=c";
        QTest::newRow("https with dot") << "https://example.com/x" << "https://example.com/x";
        QTest::newRow("upper-case scheme") << "HTTP://example.com" << "https://HTTP://example.com";
        QTest::newRow("host and port without dot") << "localhost:8080" << "";
        QTest::newRow("single word") << "orvex" << "";
        QTest::newRow("dot and space") << "what is example.com" << "";
        QTest::newRow("surrounding blanks") << "  example.com  " << "https://example.com";
    }
    void addressRule()
    {
        QFETCH(QString, text);
        QFETCH(QString, address);
        const QUrl url = MainWindow::addressFromText(text);
        if (address.isEmpty())
            QVERIFY(!url.isValid() || url.isEmpty());
        else
            QCOMPARE(url, QUrl(address, QUrl::TolerantMode));
    }

    void vpnDownRefusesTypedAddressesAndSearches_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("address") << "127.0.0.1:1/a";
        QTest::newRow("search") << "some words";
    }
    void vpnDownRefusesTypedAddressesAndSearches()
    {
        QFETCH(QString, typed);
        auto w = makeWindow(false);
        BrowserWindow *tab = w->currentBrowser();
        QTRY_COMPARE_WITH_TIMEOUT(tab->url().toString(), BrowserWindow::vpnWarningAddress(), 20000);
        w->addressBar()->setText(typed);
        w->onUrlEntered();
        QCOMPARE(w->addressBar()->text(), BrowserWindow::vpnWarningAddress());
        QCOMPARE(tab->url().toString(), BrowserWindow::vpnWarningAddress());
        QCOMPARE(server->requests().size(), 0);
    }

    void tunnelStateChangesBothWays()
    {
        auto w = makeWindow(false);
        BrowserWindow *tab = w->currentBrowser();
        QTRY_COMPARE_WITH_TIMEOUT(tab->url().toString(), BrowserWindow::vpnWarningAddress(), 20000);
        QTest::qWait(300);
        QCOMPARE(w->data()->getHistory().size(), 0); // the warning page is no visit

        setTunnel(*w, true);
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/"), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(w->data()->getHistory().size(), 1, 20000);
        QCOMPARE(w->data()->getHistory().at(0).toObject().value("url").toString(), server->url(QStringLiteral("/")).toString());

        setTunnel(*w, false);
        QTRY_COMPARE_WITH_TIMEOUT(tab->url().toString(), BrowserWindow::vpnWarningAddress(), 20000);
    }

    void sessionRestoreInOrderWithTunnel()
    {
        const QJsonArray session{QJsonObject{{"url", server->url(QStringLiteral("/a")).toString()}, {"title", "A"}},
                                 QJsonObject{{"url", server->url(QStringLiteral("/b")).toString()}, {"title", "B"}},
                                 QJsonObject{{"url", ""}, {"title", ""}, {"pinned", true}}};
        dir->writeFile(QStringLiteral("session.json"), QJsonDocument(session).toJson());

        auto w = makeWindow(true);
        QCOMPARE(w->tabs()->count(), 3);
        QCOMPARE(w->tabs()->currentIndex(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/"), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 1)->title(), QStringLiteral("Page B"), 20000);
        w.reset();
        const QJsonArray saved = storedSession();
        QCOMPARE(saved.size(), 3);
        QCOMPARE(saved.at(1).toObject().value("url").toString(), server->url(QStringLiteral("/b")).toString());
        QCOMPARE(saved.at(2).toObject().value("pinned").toBool(), true);
    }

    void quittingWhileDownKeepsAddresses()
    {
        const QString a = server->url(QStringLiteral("/a")).toString();
        QJsonArray session{QJsonObject{{"url", a}, {"title", "A"}, {"pinned", false}},
                           QJsonObject{{"url", "data:text/html,<title>D</title>"}, {"title", "D"}, {"pinned", false}}};
        dir->writeFile(QStringLiteral("session.json"), QJsonDocument(session).toJson());
        auto w = makeWindow(false);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 0)->url().toString(), BrowserWindow::vpnWarningAddress(), 20000);
        // Other schemes load whatever the tunnel state.
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 1)->title(), QStringLiteral("D"), 20000);
        QCOMPARE(server->requests().size(), 0);
        w.reset();
        QCOMPARE(storedSession().at(0).toObject().value("url").toString(), a);

        // Next start with the tunnel up: the tab gets its page back.
        auto again = makeWindow(true);
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/a"), 1, 20000);
    }

    void tunnelDropKeepsCurrentPageInSession()
    {
        auto w = makeWindow(true);
        w->currentBrowser()->loadUrl(server->url(QStringLiteral("/b")));
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Page B"), 20000);
        setTunnel(*w, false);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->url().toString(), BrowserWindow::vpnWarningAddress(), 20000);
        w->saveSession();
        QCOMPARE(storedSession().at(0).toObject().value("url").toString(), server->url(QStringLiteral("/b")).toString());
        setTunnel(*w, true);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->url(), server->url(QStringLiteral("/b")), 20000);
    }

    void duplicateWhileDownLoadsSourceAddress()
    {
        const QString a = server->url(QStringLiteral("/a")).toString();
        dir->writeFile(QStringLiteral("session.json"),
                       QJsonDocument(QJsonArray{QJsonObject{{"url", a}, {"title", "A"}},
                                                QJsonObject{{"url", "data:text/html,<title>Src</title>"}, {"title", "S"}}})
                           .toJson());
        auto w = makeWindow(false);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 1)->title(), QStringLiteral("Src"), 20000);
        w->onDuplicateTab(1);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 2)->title(), QStringLiteral("Src"), 20000);
        // A refused web address is duplicated as the address, not as the warning page.
        w->onDuplicateTab(0);
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/a"), 1, 20000);
    }

    void disconnectRunsTheRightCommands()
    {
        auto w = makeWindow(true);
        tools->clearCalls();
        // The tools take the tunnel down; the next probe must not see it again.
        tools->setIpOutputFromSample(QStringLiteral("host-no-tunnel"));
        ModalAnswerer::clickButton(QStringLiteral("Yes"));
        w->onVPNDisconnect();
        QTRY_VERIFY_WITH_TIMEOUT(tools->callsOf(QStringLiteral("pkill")).contains(QStringLiteral("pkill -x openvpn")), 10000);
        QVERIFY(tools->callsOf(QStringLiteral("wg-quick")).filter(QStringLiteral(" all")).isEmpty());
    }

    void typedAddressLoadsWithTunnelUp()
    {
        auto w = makeWindow(true);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->addressBar()->setFocus();
        w->addressBar()->clear();
        QTest::keyClicks(w->addressBar(), server->url(QStringLiteral("/b")).toString());
        QTest::keyClick(w->addressBar(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Page B"), 20000);
    }

    void oneDownloadPerRequestWithSeveralTabs()
    {
        server->route("/file.bin", [](const TestHttpServer::Request &) {
            TestHttpServer::Response r;
            r.body = QByteArray(4096, 'q');
            r.contentType = "application/octet-stream";
            r.headers.append(qMakePair(QByteArray("Content-Disposition"), QByteArray("attachment; filename=\"file.bin\"")));
            r.headers.append(qMakePair(QByteArray("Connection"), QByteArray("close")));
            return r;
        });
        auto w = makeWindow(true);
        w->onNewTab();
        w->onNewTab();
        tabAt(*w, 1)->loadUrl(server->url(QStringLiteral("/file.bin")));
        QTRY_COMPARE_WITH_TIMEOUT(w->downloads()->downloadCount(), 1, 20000);
        const QString saved = w->downloads()->downloadAt(0)->path();
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(saved).size(), qint64(4096), 20000);
        QFile::remove(saved);
        QTest::qWait(300);
        QCOMPARE(w->downloads()->downloadCount(), 1);
    }

    void storedTokenSyncsKeysAtStart()
    {
        AccountServiceStub account;
        QVERIFY(account.listen());
        ServiceEndpoints::setAccountUrl(account.baseUrl());
        {
            VPNManager vpn;
            AccountSyncManager store(&vpn);
            store.saveToken(AccountServiceStub::sessionToken(), AccountServiceStub::userName());
        }
        QString boxText;
        ModalAnswerer::answer([&boxText](QWidget *box) {
            if (auto *message = qobject_cast<QMessageBox *>(box)) {
                boxText = message->windowTitle() + QLatin1Char('|') + message->text();
                message->accept();
            }
        });
        auto w = makeWindow(true);
        QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Auto-syncing VPN keys..."));
        QTRY_COMPARE_WITH_TIMEOUT(w->statusBar()->currentMessage(), QStringLiteral("VPN keys synced successfully!"), 20000);
        QVERIFY2(boxText.startsWith(QStringLiteral("Keys Synced|Keys synced for alice\nWireGuard IP: ")), qPrintable(boxText));
    }

    void savedSettingsReachEveryTab()
    {
        auto w = makeWindow(true);
        w->onNewTab();
        w->onNewTab();
        ModalAnswerer::answer([](QWidget *dialog) {
            for (QCheckBox *box : dialog->findChildren<QCheckBox *>())
                box->setChecked(box->text() != QStringLiteral("Ad Blocking") && box->isChecked());
            for (QPushButton *button : dialog->findChildren<QPushButton *>())
                if (button->text() == QStringLiteral("Save"))
                    button->click();
        });
        w->onSettings();
        for (int i = 0; i < w->tabs()->count(); ++i)
            QCOMPARE(tabAt(*w, i)->privacy()->getPrivacySettings().value("adBlocking").toBool(true), false);
        w->onNewTab();
        QCOMPARE(tabAt(*w, 3)->privacy()->getPrivacySettings().value("adBlocking").toBool(true), false);
    }

    void lastTabStaysAndCommandsAreHarmless()
    {
        auto w = makeWindow(true);
        w->onCloseTab(0);
        QCOMPARE(w->tabs()->count(), 1);
        w->onNewTab();
        w->onCloseTab(0);
        QCOMPARE(storedSession().size(), 1);
        w->onPrint();
        w->onZoomIn();
        w->onReaderMode();
        w->onDevTools();
        w->onSidePanelToggle();
        QVERIFY(w->assistantPanel()->isVisibleTo(w.get()));
    }

    void vpnButtonStartsTheToolForTheChosenFile_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("command"); // %1: the file
        QTest::newRow("openvpn") << "OFFICE.OVPN" << "openvpn --config %1 --daemon";
        QTest::newRow("wireguard") << "orvex_de1.conf" << "wg-quick up %1";
        QTest::newRow("ovpn inside the name") << "a.ovpn.conf" << "wg-quick up %1";
    }
    void vpnButtonStartsTheToolForTheChosenFile()
    {
        QFETCH(QString, file);
        QFETCH(QString, command);
        const QString path = dir->downloadDir() + QLatin1Char('/') + file;
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        auto w = makeWindow(false);
        tools->clearCalls();
        w->setVpnFileChooser([path](QWidget *) { return path; });
        w->onVPNDialog();
        QTRY_VERIFY_WITH_TIMEOUT(tools->callsOf(command.section(QLatin1Char(' '), 0, 0)).contains(command.arg(path)), 10000);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
