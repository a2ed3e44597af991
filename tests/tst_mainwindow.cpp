#include "AccountServiceStub.h"
#include "AccountSyncManager.h"
#include "BrowserWindow.h"
#include "DataManager.h"
#include "DownloadItem.h"
#include "DownloadManager.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "ModalAnswerer.h"
#include "PrivacyEngine.h"
#include "ServiceEndpoints.h"
#include "SidePanel.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"
#include "VPNManager.h"

#include <QtTest>
#include <QtWidgets>
#include <memory>

static constexpr int Slow = 20000; // page loads on a busy machine

// The whole window against fake VPN tools, a fresh data folder and pages
// from a loopback server that also plays the account service's home page.
class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<FakeTools> tools;
    std::unique_ptr<TestHttpServer> server;
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
    QString page(const char *path) const { return server->url(QString::fromLatin1(path)).toString(); }
    void writeSession(const QStringList &urls) const
    {
        QJsonArray session;
        for (const QString &url : urls)
            session.append(QJsonObject{{"url", url}, {"title", ""}, {"pinned", url.isEmpty()}});
        dir->writeFile(QStringLiteral("session.json"), QJsonDocument(session).toJson());
    }
    QJsonObject storedTab(int i) const
    {
        return QJsonDocument::fromJson(dir->readFile(QStringLiteral("session.json"))).array().at(i).toObject();
    }
    static QStringList bookmarkMenuCaptions(MainWindow &w)
    {
        QStringList captions;
        ModalAnswerer::answer([&captions](QWidget *popup) {
            for (QAction *a : popup->actions())
                captions << a->text() + (a->isEnabled() ? QString() : QStringLiteral(" (disabled)"));
            popup->hide();
        });
        w.onBookmarks();
        return captions;
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
        QTest::newRow("host and path") << "example.com/a?b=c" << "https://example.com/a?b=c";
        QTest::newRow("http with dot") << "http://example.com" << "http://example.com";
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

    // A person browsing with a tunnel: the reload button turns into "X" while
    // loading, the tab text is the title cut to 25 characters; the session keeps
    // the page a tunnel drop replaced, then the refused address, and the tab
    // returns to it when the tunnel is back.
    void browsingWithATunnel()
    {
        auto w = makeWindow(true);
        QCOMPARE(w->tabs()->count(), 1);
        QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Ready"));
        QCOMPARE(w->vpnLabel()->text(), QStringLiteral("🟢 VPN Connected"));
        QCOMPARE(w->vpnToggleButton()->text(), QStringLiteral("🔴 Disconnect VPN"));
        QTRY_COMPARE_WITH_TIMEOUT(w->tabs()->tabText(0), QStringLiteral("Orvex Home"), Slow);
        QTRY_VERIFY_WITH_TIMEOUT(w->reloadToolButton()->text().isEmpty(), Slow);
        type(*w, page("/slow"));
        QTRY_COMPARE_WITH_TIMEOUT(w->reloadToolButton()->text(), QStringLiteral("X"), Slow);
        QTRY_VERIFY_WITH_TIMEOUT(w->reloadToolButton()->text().isEmpty(), Slow);
        QVERIFY(!w->reloadToolButton()->icon().isNull());
        type(*w, page("/long"));
        QTRY_COMPARE_WITH_TIMEOUT(w->tabs()->tabText(0), QStringLiteral("0123456789012345678901234"), Slow);
        QCOMPARE(w->windowTitle(), QStringLiteral("OrvexBrowser"));

        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        auto typeKeys = [&w](const QString &text) {
            w->addressBar()->setFocus();
            w->addressBar()->clear();
            QTest::keyClicks(w->addressBar(), text);
            QTest::keyClick(w->addressBar(), Qt::Key_Return);
        };
        typeKeys(page("/b"));
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Page B"), Slow);
        setTunnel(*w, false);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Protected Network Required"), Slow);
        w->saveSession();
        QCOMPARE(storedTab(0).value("url").toString(), page("/b"));
        typeKeys(page("/a"));
        QCOMPARE(w->addressBar()->text(), warning);
        w->saveSession();
        QCOMPARE(storedTab(0).value("url").toString(), page("/a"));
        QCOMPARE(server->requestCount("/a"), 0);
        setTunnel(*w, true);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Page A"), Slow);
    }

    // Without a tunnel typed addresses, searches and new tabs get the warning
    // page; once up, home (the only visit in history); down again.
    void tunnelComesAndGoes()
    {
        auto w = makeWindow(false);
        QCOMPARE(w->vpnLabel()->text(), QStringLiteral("🔴 VPN Disconnected"));
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->url().toString(), warning, Slow);
        for (const QString &typed : {page("/a"), QStringLiteral("some words")}) {
            type(*w, typed);
            QCOMPARE(w->addressBar()->text(), warning);
            QCOMPARE(w->currentBrowser()->url().toString(), warning);
        }
        w->onNewTab();
        QCOMPARE(w->tabs()->currentIndex(), 1);
        BrowserWindow *tab = w->currentBrowser();
        QTRY_COMPARE_WITH_TIMEOUT(tab->url().toString(), warning, Slow);
        QCOMPARE(server->requests().size(), 0);

        setTunnel(*w, true);
        QCOMPARE(w->vpnLabel()->text(), QStringLiteral("🟢 VPN Connected"));
        QTRY_COMPARE_WITH_TIMEOUT(w->data()->getHistory().size(), 1, Slow);
        QCOMPARE(w->data()->getHistory().at(0).toObject().value("url").toString(), page("/"));
        QSignalSpy loads(tab, &BrowserWindow::loadFinished);
        setTunnel(*w, false);
        QCOMPARE(w->vpnLabel()->text(), QStringLiteral("🔴 VPN Disconnected"));
        QCOMPARE(w->vpnToggleButton()->text(), QStringLiteral(" Connect VPN"));
        QCOMPARE(w->addressBar()->text(), warning);
        QTRY_VERIFY_WITH_TIMEOUT(!loads.isEmpty(), Slow);
        QCOMPARE(tab->url().toString(), warning);
        QCOMPARE(w->data()->getHistory().size(), 1);
    }

    // Restored in order with a tunnel; pin, close and the last-tab rule
    // (through the context menu too) rewrite the session.
    void sessionWithTunnel()
    {
        writeSession({page("/a"), page("/b"), QString()});
        auto w = makeWindow(true);
        QCOMPARE(w->tabs()->count(), 3);
        QCOMPARE(w->tabs()->currentIndex(), 0);
        QCOMPARE(w->tabs()->tabText(2), QStringLiteral("New Tab"));
        QCOMPARE(w->tabs()->tabBar()->tabData(2).toBool(), true);
        QVERIFY(!w->tabs()->tabIcon(2).isNull());
        const QStringList titles{"Page A", "Page B", "Orvex Home"};
        for (int i = 0; i < 3; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, i)->title(), titles.at(i), Slow);

        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->onTabContextMenu(QPoint(w->tabs()->width() - 5, 5)); // beside the tabs: no menu
        QVERIFY(!QApplication::activePopupWidget());
        ModalAnswerer::triggerMenuAction(QStringLiteral("Pin Tab"));
        w->onTabContextMenu(w->tabs()->tabBar()->tabRect(0).center());
        QCOMPARE(storedTab(0).value("pinned").toBool(), true);
        QCOMPARE(storedTab(1).value("url").toString(), page("/b"));
        QCOMPARE(storedTab(2).value("pinned").toBool(), true);
        w->onUnpinTab(0);
        QCOMPARE(storedTab(0).value("pinned").toBool(), false);
        w->onMuteTab(1);
        QVERIFY(tabAt(*w, 1)->isMuted());
        w->onUnmuteTab(1);
        QVERIFY(!tabAt(*w, 1)->isMuted());

        w->onCloseTab(0);
        w->onCloseTab(0);
        QCOMPARE(w->tabs()->count(), 1);
        QCOMPARE(storedTab(0).value("pinned").toBool(), true);
        QVERIFY(storedTab(1).isEmpty());
        w->onCloseTab(0);
        ModalAnswerer::triggerMenuAction(QStringLiteral("Close Tab"));
        w->onTabContextMenu(w->tabs()->tabBar()->tabRect(0).center());
        QCOMPARE(w->tabs()->count(), 1);
    }

    // Without a tunnel the session keeps the refused addresses; other schemes and
    // duplicates load ungated; switching to a refused tab once connected loads it.
    void sessionWithoutTunnel()
    {
        writeSession({page("/a"), page("/b"), QStringLiteral("data:text/html,<title>Src</title>")});
        auto w = makeWindow(false);
        QCOMPARE(w->tabs()->count(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 2)->title(), QStringLiteral("Src"), Slow);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 0)->url().toString(), warning, Slow);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 1)->url().toString(), warning, Slow);
        w->onDuplicateTab(2);
        QCOMPARE(w->tabs()->count(), 4);
        QCOMPARE(w->tabs()->currentIndex(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 3)->title(), QStringLiteral("Src"), Slow);
        QCOMPARE(server->requests().size(), 0);
        w.reset();
        QCOMPARE(storedTab(0).value("url").toString(), page("/a"));
        QCOMPARE(storedTab(1).value("url").toString(), page("/b"));

        // A copy is gated like any load and stands in for the address, not
        // the warning page; tabs whose warning has not even loaded yet still
        // return to their pages once the tunnel is up.
        w = makeWindow(false);
        w->onDuplicateTab(0);
        QCOMPARE(w->tabs()->currentIndex(), 4);
        QCOMPARE(tabAt(*w, 4)->sessionUrl(), page("/a"));
        setTunnel(*w, true);
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/a"), 1, Slow);
        w->tabs()->setCurrentIndex(1);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 1)->title(), QStringLiteral("Page B"), Slow);
        QCOMPARE(server->requestCount("/a"), 1);
    }

    void bookmarksMenu()
    {
        auto w = makeWindow(true);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Orvex Home"), Slow);
        QCOMPARE(bookmarkMenuCaptions(*w),
                 (QStringList{"No bookmarks yet (disabled)", "", "Add Current Page", "Manage Bookmarks..."}));
        ModalAnswerer::triggerMenuAction(QStringLiteral("Add Current Page"));
        w->onBookmarks();
        QCOMPARE(w->data()->getBookmarks().size(), 1);
        setTunnel(*w, false);
        QCOMPARE(bookmarkMenuCaptions(*w),
                 (QStringList{"Orvex Home", "", "Add Current Page (disabled)", "Manage Bookmarks..."}));
    }

    // Any-case ".ovpn" starts OpenVPN, anything else wg-quick; disconnecting
    // takes down exactly that.
    void vpnButtonConnectsAndDisconnects_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("up");
        QTest::addColumn<QString>("down");
        QTest::newRow("openvpn") << "OFFICE.OVPN" << "openvpn --config %1 --daemon" << "pkill -x openvpn";
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
        QTRY_VERIFY_WITH_TIMEOUT(tools->calls().contains(up.replace(QLatin1String("%1"), path)), 10000);
        setTunnel(*w, true);
        // The tools take the tunnel down; the next probe must not see it again.
        tools->setIpOutputFromSample(QStringLiteral("host-no-tunnel"));
        ModalAnswerer yes({QStringLiteral("Yes")});
        w->onVPNDisconnect();
        QTRY_VERIFY_WITH_TIMEOUT(tools->calls().contains(down.replace(QLatin1String("%1"), path)), 10000);
        QCOMPARE(w->vpnLabel()->text(), QStringLiteral("🔴 VPN Disconnected"));
    }

    // Completion offers the titles and addresses of history and bookmarks; the
    // find window is made once and keeps its text.
    void completionAndFindWindow()
    {
        // Built with QJsonDocument: moc trips over multi-line raw strings.
        const QJsonArray history{QJsonObject{{"url", "https://a.example/"}, {"title", "Alpha"}},
                                 QJsonObject{{"url", "Alpha"}, {"title", ""}}, QJsonObject{{"title", "orphan"}}};
        dir->writeFile(QStringLiteral("history.json"), QJsonDocument(history).toJson());
        const QJsonArray bookmarks{QJsonObject{{"url", "https://b.example/"}, {"title", "Beta"}}};
        dir->writeFile(QStringLiteral("bookmarks.json"), QJsonDocument(bookmarks).toJson());
        auto w = makeWindow(true);
        auto *model = qobject_cast<QStringListModel *>(w->addressBar()->completer()->model());
        QCOMPARE(model->stringList(), (QStringList{"Alpha", "Beta", "https://a.example/", "https://b.example/"}));
        QCOMPARE(w->addressBar()->completer()->filterMode(), Qt::MatchContains);

        w->onFindInPage();
        QDialog *find = w->findWindow();
        QVERIFY(find);
        find->findChild<QLineEdit *>()->setText(QStringLiteral("home"));
        find->close();
        w->onFindInPage();
        QCOMPARE(w->findWindow(), find);
        QCOMPARE(find->findChild<QLineEdit *>()->text(), QStringLiteral("home"));
    }

    // Saved settings reach every tab; one download per request; the panels
    // toggle while the window is hidden.
    void severalTabs()
    {
        server->route("/file.bin", [](const TestHttpServer::Request &) {
            return TestHttpServer::Response{200, "application/octet-stream", QByteArray(4096, 'q'),
                                            {{"Content-Disposition", "attachment; filename=\"file.bin\""}, {"Connection", "close"}}};
        });
        auto w = makeWindow(true);
        w->onNewTab();
        w->onNewTab();
        ModalAnswerer::answer([](QWidget *dialog) {
            for (QCheckBox *box : dialog->findChildren<QCheckBox *>())
                if (box->text() == QStringLiteral("Ad Blocking"))
                    box->setChecked(false);
            for (QPushButton *button : dialog->findChildren<QPushButton *>())
                if (button->text() == QStringLiteral("Save"))
                    button->click();
        });
        w->onSettings();
        QCOMPARE(w->data()->getSettings().value("adBlocking").toBool(true), false);
        w->onNewTab(); // opened afterwards: starts from the stored switches
        for (int i = 0; i < 4; ++i)
            QCOMPARE(tabAt(*w, i)->privacy()->getPrivacySettings().value("adBlocking").toBool(true), false);

        tabAt(*w, 1)->loadUrl(server->url(QStringLiteral("/file.bin")));
        QTRY_COMPARE_WITH_TIMEOUT(w->downloads()->downloadCount(), 1, Slow);
        const QString saved = w->downloads()->downloadAt(0)->path();
        QVERIFY(saved.endsWith(QStringLiteral("file.bin")));
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(saved).size(), qint64(4096), Slow);
        QTest::qWait(300);
        QCOMPARE(w->downloads()->downloadCount(), 1);

        for (bool shown : {true, false}) {
            w->onDevTools();
            QCOMPARE(w->currentBrowser()->isDevToolsVisible(), shown);
            w->onSidePanelToggle();
            QCOMPARE(w->assistantPanel()->isVisibleTo(w.get()), shown);
        }
    }

    void storedTokenSyncsKeysAtStart()
    {
        AccountServiceStub account;
        QVERIFY(account.listen());
        ServiceEndpoints::setAccountUrl(account.baseUrl());
        {
            VPNManager vpn;
            AccountSyncManager(&vpn).saveToken(AccountServiceStub::sessionToken(), AccountServiceStub::userName());
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
        QTRY_COMPARE_WITH_TIMEOUT(w->statusBar()->currentMessage(), QStringLiteral("VPN keys synced successfully!"), Slow);
        QVERIFY2(boxText.startsWith(QStringLiteral("Keys Synced|Keys synced for alice\nWireGuard IP: ")), qPrintable(boxText));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
