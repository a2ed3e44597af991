#include "AccountServiceStub.h"
#include "AccountSyncManager.h"
#include "BrowserWindow.h"
#include "DownloadItem.h"
#include "DownloadManager.h"
#include "PrivacyEngine.h"
#include "DataManager.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "ModalAnswerer.h"
#include "ServiceEndpoints.h"
#include "SidePanel.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"
#include "VPNManager.h"

#include <QCheckBox>
#include <QCompleter>
#include <QMessageBox>
#include <QDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QStringListModel>
#include <QTabBar>
#include <QTabWidget>
#include <QtTest>
#include <memory>

// The whole window against fake VPN tools, a fresh data folder and pages
// from a loopback server that also plays the account service's home page.
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

    QJsonArray storedSession() const
    {
        return QJsonDocument::fromJson(dir->readFile(QStringLiteral("session.json"))).array();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("OrvexVPN"));
        QCoreApplication::setApplicationName(QStringLiteral("OrvexBrowser"));
    }

    void init()
    {
        // The offscreen platform and the GPU-less engine announce what they lack.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(
            "^(?!This plugin does not support|No suitable graphics backend|WebEngineContext used before).*")));
        dir = std::make_unique<TempDataDir>();
        tools = std::make_unique<FakeTools>();
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->listen());
        server->setPage("/", "<html><head><title>Orvex Home</title></head><body>home</body></html>");
        server->setPage("/long", "<html><head><title>0123456789012345678901234567890123456789</title></head><body>x</body></html>");
        server->setPage("/a", "<html><head><title>Page A</title></head><body>a</body></html>");
        server->setPage("/b", "<html><head><title>Page B</title></head><body>b</body></html>");
        server->setPage("/slow", "<html><head><title>Slow</title></head><body>s</body></html>");
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
        QTest::newRow("http with dot") << "http://example.com" << "http://example.com";
        QTest::newRow("https with dot") << "https://example.com/x" << "https://example.com/x";
        QTest::newRow("about with dot") << "about:blank.x" << "about:blank.x";
        QTest::newRow("upper-case scheme") << "HTTP://example.com" << "https://HTTP://example.com";
        QTest::newRow("host and port without dot") << "localhost:8080" << "";
        QTest::newRow("about without dot") << "about:blank" << "";
        QTest::newRow("single word") << "orvex" << "";
        QTest::newRow("dot and space") << "what is example.com" << "";
        QTest::newRow("surrounding blanks") << "  example.com  " << "https://example.com";
        QTest::newRow("empty") << "" << "";
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

    void startsWithOneTabAndReady()
    {
        auto w = makeWindow(true);
        QCOMPARE(w->windowTitle(), QStringLiteral("OrvexBrowser"));
        QCOMPARE(w->size(), QSize(1200, 800));
        QCOMPARE(w->tabs()->count(), 1);
        QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Ready"));
        QCOMPARE(w->vpnLabel()->text(), QStringLiteral("🟢 VPN Connected"));
        QCOMPARE(w->vpnToggleButton()->text(), QStringLiteral("🔴 Disconnect VPN"));
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/"), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(w->tabs()->tabText(0), QStringLiteral("Orvex Home"), 20000);
        QCOMPARE(w->windowTitle(), QStringLiteral("OrvexBrowser"));
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
        QCOMPARE(w->vpnLabel()->text(), QStringLiteral("🔴 VPN Disconnected"));
        BrowserWindow *tab = w->currentBrowser();
        QVERIFY(tab);
        QTRY_COMPARE_WITH_TIMEOUT(tab->url().toString(), BrowserWindow::vpnWarningAddress(), 20000);
        w->addressBar()->setText(typed);
        w->onUrlEntered();
        QCOMPARE(w->addressBar()->text(), BrowserWindow::vpnWarningAddress());
        QCOMPARE(tab->url().toString(), BrowserWindow::vpnWarningAddress());
        QCOMPARE(server->requests().size(), 0);
    }

    void vpnUpLoadsTypedAddress()
    {
        auto w = makeWindow(true);
        w->addressBar()->setText(server->url(QStringLiteral("/a")).toString());
        w->onUrlEntered();
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/a"), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Page A"), 20000);
    }

    void tunnelStateChangesBothWays()
    {
        auto w = makeWindow(false);
        BrowserWindow *tab = w->currentBrowser();
        QTRY_COMPARE_WITH_TIMEOUT(tab->url().toString(), BrowserWindow::vpnWarningAddress(), 20000);

        setTunnel(*w, true);
        QCOMPARE(w->vpnLabel()->text(), QStringLiteral("🟢 VPN Connected"));
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/"), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(tab->url().toString(), server->url(QStringLiteral("/")).toString(), 20000);

        setTunnel(*w, false);
        QCOMPARE(w->vpnLabel()->text(), QStringLiteral("🔴 VPN Disconnected"));
        QCOMPARE(w->vpnToggleButton()->text(), QStringLiteral(" Connect VPN"));
        QCOMPARE(w->addressBar()->text(), BrowserWindow::vpnWarningAddress());
        QTRY_COMPARE_WITH_TIMEOUT(tab->url().toString(), BrowserWindow::vpnWarningAddress(), 20000);
    }

    void newTabWhileDownShowsWarning()
    {
        auto w = makeWindow(false);
        w->onNewTab();
        QCOMPARE(w->tabs()->count(), 2);
        QCOMPARE(w->tabs()->currentIndex(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->url().toString(), BrowserWindow::vpnWarningAddress(), 20000);
        QCOMPARE(server->requests().size(), 0);
    }

    void tabTextAndReloadButton()
    {
        auto w = makeWindow(true);
        QTRY_COMPARE_WITH_TIMEOUT(w->tabs()->tabText(0), QStringLiteral("Orvex Home"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(w->reloadToolButton()->text().isEmpty(), 20000);
        server->route("/slow", [](const TestHttpServer::Request &) {
            TestHttpServer::Response r;
            r.body = "<html><head><title>Slow</title></head><body>s</body></html>";
            r.delayMs = 1500;
            return r;
        });
        w->currentBrowser()->loadUrl(server->url(QStringLiteral("/slow")));
        QTRY_COMPARE_WITH_TIMEOUT(w->reloadToolButton()->text(), QStringLiteral("X"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(w->reloadToolButton()->text().isEmpty(), 20000);
        QVERIFY(!w->reloadToolButton()->icon().isNull());

        w->currentBrowser()->loadUrl(server->url(QStringLiteral("/long")));
        QTRY_COMPARE_WITH_TIMEOUT(w->tabs()->tabText(0), QStringLiteral("0123456789012345678901234"), 20000);
    }

    void historyRecordsVisitsButNotTheWarningPage()
    {
        auto w = makeWindow(false);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->url().toString(), BrowserWindow::vpnWarningAddress(), 20000);
        QTest::qWait(300);
        QCOMPARE(w->data()->getHistory().size(), 0);
        setTunnel(*w, true);
        QTRY_COMPARE_WITH_TIMEOUT(w->data()->getHistory().size(), 1, 20000);
        QCOMPARE(w->data()->getHistory().at(0).toObject().value("url").toString(), server->url(QStringLiteral("/")).toString());
    }

    void closeTabRules()
    {
        auto w = makeWindow(true);
        w->onCloseTab(0);
        QCOMPARE(w->tabs()->count(), 1); // the last tab stays
        w->onNewTab();
        QCOMPARE(w->tabs()->count(), 2);
        w->onCloseTab(0);
        QCOMPARE(w->tabs()->count(), 1);
        QCOMPARE(storedSession().size(), 1);
    }

    void sessionRestoreInOrderWithTunnel()
    {
        QJsonArray session;
        for (const char *path : {"/a", "/b"})
            session.append(QJsonObject{{"url", server->url(QString::fromLatin1(path)).toString()}, {"title", QString::fromLatin1(path)}, {"pinned", false}});
        session.append(QJsonObject{{"url", ""}, {"title", ""}, {"pinned", true}});
        dir->writeFile(QStringLiteral("session.json"), QJsonDocument(session).toJson());

        auto w = makeWindow(true);
        QCOMPARE(w->tabs()->count(), 3);
        QCOMPARE(w->tabs()->currentIndex(), 0);
        QCOMPARE(w->tabs()->tabText(2), QStringLiteral("New Tab"));
        QCOMPARE(w->tabs()->tabBar()->tabData(2).toBool(), true);
        QVERIFY(!w->tabs()->tabIcon(2).isNull());
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/a"), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/b"), 1, 20000);
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
        QCOMPARE(w->tabs()->count(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 0)->url().toString(), BrowserWindow::vpnWarningAddress(), 20000);
        // Other schemes load whatever the tunnel state.
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 1)->title(), QStringLiteral("D"), 20000);
        QCOMPARE(server->requests().size(), 0);
        w.reset();
        const QJsonArray saved = storedSession();
        QCOMPARE(saved.size(), 2);
        QCOMPARE(saved.at(0).toObject().value("url").toString(), a);

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

    void pinAndUnpin()
    {
        auto w = makeWindow(true);
        w->onPinTab(0);
        QCOMPARE(storedSession().at(0).toObject().value("pinned").toBool(), true);
        w->onUnpinTab(0);
        QCOMPARE(storedSession().at(0).toObject().value("pinned").toBool(), false);
        w->onMuteTab(0);
        QVERIFY(w->currentBrowser()->isMuted());
        w->onUnmuteTab(0);
        QVERIFY(!w->currentBrowser()->isMuted());
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
        QCOMPARE(w->tabs()->count(), 3);
        QCOMPARE(w->tabs()->currentIndex(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 2)->title(), QStringLiteral("Src"), 20000);
        // A refused web address is duplicated as the address, not as the warning page.
        w->onDuplicateTab(0);
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/a"), 1, 20000);
    }

    void contextMenuOnlyOverATab()
    {
        auto w = makeWindow(true);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        // Beside the tabs: no menu at all.
        w->onTabContextMenu(QPoint(w->tabs()->width() - 5, 5));
        QVERIFY(!QApplication::activePopupWidget());
        // The only tab: "Close Tab" leaves it open.
        ModalAnswerer::triggerMenuAction(QStringLiteral("Close Tab"));
        w->onTabContextMenu(w->tabs()->tabBar()->tabRect(0).center());
        QCOMPARE(w->tabs()->count(), 1);
    }

    void bookmarksMenuOffersFirstBookmark()
    {
        auto w = makeWindow(true);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Orvex Home"), 20000);
        QStringList captions;
        ModalAnswerer::answer([&captions](QWidget *popup) {
            for (QAction *a : popup->actions())
                captions << a->text() + (a->isEnabled() ? QString() : QStringLiteral(" (disabled)"));
            popup->hide();
        });
        w->onBookmarks();
        QVERIFY(captions.contains(QStringLiteral("No bookmarks yet (disabled)")));
        QVERIFY(captions.contains(QStringLiteral("Add Current Page")));

        ModalAnswerer::triggerMenuAction(QStringLiteral("Add Current Page"));
        w->onBookmarks();
        QCOMPARE(w->data()->getBookmarks().size(), 1);
        QCOMPARE(w->data()->getBookmarks().at(0).toObject().value("title").toString(), QStringLiteral("Orvex Home"));
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
        QCOMPARE(w->vpnLabel()->text(), QStringLiteral("🔴 VPN Disconnected"));
    }

    void findWindowIsReused()
    {
        auto w = makeWindow(true);
        w->onFindInPage();
        QDialog *find = w->findWindow();
        QVERIFY(find);
        QCOMPARE(find->windowTitle(), QStringLiteral("Find in Page"));
        find->findChild<QLineEdit *>()->setText(QStringLiteral("home"));
        find->close();
        w->onFindInPage();
        QCOMPARE(w->findWindow(), find);
        QCOMPARE(find->findChild<QLineEdit *>()->text(), QStringLiteral("home"));
    }

    void completionFromHistoryAndBookmarks()
    {
        // Built with QJsonDocument: moc trips over multi-line raw strings.
        const QJsonArray history{QJsonObject{{"url", "https://a.example/"}, {"title", "Alpha"}},
                                 QJsonObject{{"url", "Alpha"}, {"title", ""}},
                                 QJsonObject{{"title", "orphan"}}};
        dir->writeFile(QStringLiteral("history.json"), QJsonDocument(history).toJson());
        const QJsonArray bookmarks{QJsonObject{{"url", "https://b.example/"}, {"title", "Beta"}}};
        dir->writeFile(QStringLiteral("bookmarks.json"), QJsonDocument(bookmarks).toJson());
        auto w = makeWindow(true);
        auto *model = qobject_cast<QStringListModel *>(w->addressBar()->completer()->model());
        QVERIFY(model);
        QCOMPARE(model->stringList(), (QStringList{"Alpha", "Beta", "https://a.example/", "https://b.example/"}));
        QCOMPARE(w->addressBar()->completer()->filterMode(), Qt::MatchContains);
    }

    void typingInTheWindowLikeAPerson()
    {
        auto w = makeWindow(true);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->addressBar()->setFocus();
        w->addressBar()->clear();
        QTest::keyClicks(w->addressBar(), server->url(QStringLiteral("/b")).toString());
        QTest::keyClick(w->addressBar(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Page B"), 20000);

        setTunnel(*w, false);
        w->addressBar()->clear();
        QTest::keyClicks(w->addressBar(), server->url(QStringLiteral("/a")).toString());
        QTest::keyClick(w->addressBar(), Qt::Key_Return);
        QCOMPARE(w->addressBar()->text(), BrowserWindow::vpnWarningAddress());
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Protected Network Required"), 20000);
        QCOMPARE(server->requestCount("/a"), 0);
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
        QCOMPARE(w->tabs()->count(), 3);
        tabAt(*w, 1)->loadUrl(server->url(QStringLiteral("/file.bin")));
        QTRY_COMPARE_WITH_TIMEOUT(w->downloads()->downloadCount(), 1, 20000);
        const QString saved = w->downloads()->downloadAt(0)->path();
        QVERIFY(saved.endsWith(QStringLiteral("file.bin")));
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
            for (QCheckBox *box : dialog->findChildren<QCheckBox *>()) {
                if (box->text() == QStringLiteral("Ad Blocking"))
                    box->setChecked(false);
            }
            for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
                if (button->text() == QStringLiteral("Save"))
                    button->click();
            }
        });
        w->onSettings();
        QCOMPARE(w->data()->getSettings().value("adBlocking").toBool(true), false);
        for (int i = 0; i < w->tabs()->count(); ++i)
            QCOMPARE(tabAt(*w, i)->privacy()->getPrivacySettings().value("adBlocking").toBool(true), false);
        // A tab opened afterwards starts from the stored switches too.
        w->onNewTab();
        QCOMPARE(tabAt(*w, 3)->privacy()->getPrivacySettings().value("adBlocking").toBool(true), false);
    }

    void noTabCommandsAreHarmless()
    {
        auto w = makeWindow(true);
        // The palette's commands on an empty window must not crash.
        w->onPrint();
        w->onZoomIn();
        w->onReaderMode();
        w->onDevTools();
        QVERIFY(w->currentBrowser()->isDevToolsVisible());
        w->onDevTools();
        QVERIFY(!w->currentBrowser()->isDevToolsVisible());
        w->onSidePanelToggle();
        QVERIFY(w->assistantPanel()->isVisibleTo(w.get()));
        w->onSidePanelToggle();
        QVERIFY(!w->assistantPanel()->isVisibleTo(w.get()));
    }

    void tunnelTypeForFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("type");
        QTest::newRow("ovpn") << "/x/office.ovpn" << "openvpn";
        QTest::newRow("capitals") << "/x/OFFICE.OVPN" << "openvpn";
        QTest::newRow("conf") << "/x/orvex_de1.conf" << "wireguard";
        QTest::newRow("ovpn inside the name") << "/x/a.ovpn.conf" << "wireguard";
    }
    void tunnelTypeForFile()
    {
        QFETCH(QString, path);
        QFETCH(QString, type);
        QCOMPARE(MainWindow::tunnelTypeForFile(path), type);
    }

    void vpnButtonStartsTheToolForTheChosenFile_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("tool");
        QTest::newRow("openvpn") << "office.ovpn" << "openvpn";
        QTest::newRow("wireguard") << "orvex_de1.conf" << "wg-quick";
    }
    void vpnButtonStartsTheToolForTheChosenFile()
    {
        QFETCH(QString, file);
        QFETCH(QString, tool);
        const QString path = dir->downloadDir() + QLatin1Char('/') + file;
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        auto w = makeWindow(false);
        tools->clearCalls();
        w->setVpnFileChooser([path](QWidget *) { return path; });
        w->onVPNDialog();
        const QString expected = tool == QLatin1String("openvpn")
            ? QStringLiteral("openvpn --config %1 --daemon").arg(path)
            : QStringLiteral("wg-quick up %1").arg(path);
        QTRY_VERIFY_WITH_TIMEOUT(tools->callsOf(tool).contains(expected), 10000);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
