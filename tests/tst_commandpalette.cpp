#include "AccountServiceStub.h"
#include "CommandPalette.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "ServiceEndpoints.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"
#include "VPNManager.h"

#include <QCompleter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QListWidget>
#include <QNetworkCookie>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QtTest>

namespace {
const QStringList fixedNames{"New Tab", "Close Tab", "Connect VPN", "Toggle AI Panel", "Developer Tools", "History",
                             "Bookmarks", "Downloads", "Settings", "Print", "Find in Page", "Fullscreen", "Reader Mode",
                             "Connect Iceland", "Connect USA", "Connect Germany", "Disconnect VPN", "Ghost Mode",
                             "Wipe History", "Wipe Everything", "Privacy Dashboard", "Login / Sync Keys"};

// Names of the listed rows, in list order, taken back from the row texts.
QStringList listedNames(const CommandPalette &p)
{
    QStringList out;
    for (int i = 0; i < p.listWidget()->count(); ++i) {
        const int index = p.listWidget()->item(i)->data(Qt::UserRole).toInt();
        out << p.commandItems().value(index).name;
        if (p.listWidget()->item(i)->text() != CommandPalette::rowText(p.commandItems().value(index)))
            out << QStringLiteral("<row text mismatch>");
    }
    return out;
}

}

class TestCommandPalette : public QObject
{
    Q_OBJECT

    FakeTools *tools = nullptr;
    TempDataDir *dataDir = nullptr;
    TestHttpServer *account = nullptr;
    MainWindow *window = nullptr;
    CommandPalette *palette = nullptr;

    // The window reads its data folder when it is built, so seed files first.
    void startWindow()
    {
        window = new MainWindow;
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        palette = new CommandPalette(window);
    }

    void open()
    {
        palette->show();
        palette->raise();
        palette->activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(palette));
    }

    // Selects the row of `name` with the arrow keys after typing `query`, then presses Return.
    void run(const QString &query, const QString &name)
    {
        open();
        QTest::keyClicks(palette->searchField(), query);
        QListWidget *list = palette->listWidget();
        for (int guard = 0; guard < list->count(); ++guard) {
            const int index = list->currentItem()->data(Qt::UserRole).toInt();
            if (palette->commandItems().value(index).name == name)
                break;
            QTest::keyClick(palette->searchField(), Qt::Key_Down);
        }
        QCOMPARE(palette->commandItems().value(list->currentItem()->data(Qt::UserRole).toInt()).name, name);
        QTest::keyClick(palette->searchField(), Qt::Key_Return);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Start the web engine here: its start-up notes about the missing GPU are not the product's.
        QWebEngineProfile::defaultProfile()->cookieStore();
    }
    void init()
    {
        // The offscreen platform reports window operations it lacks (raise,
        // keyboard grab of the popup); anything else is a real warning.
        // The engine may announce its missing GPU late, from its own thread.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(R"re(^(?!This plugin does not support |No suitable graphics backend|WebEngineContext used before).*)re")));
        tools = new FakeTools;
        dataDir = new TempDataDir;
        account = new TestHttpServer;
        QVERIFY(account->listen());
        account->setPage("/", "<html><body>home</body></html>");
        ServiceEndpoints::setAccountUrl(account->baseUrl());
    }
    void cleanup()
    {
        delete std::exchange(window, nullptr); // owns the palette
        palette = nullptr;
        delete std::exchange(account, nullptr);
        ServiceEndpoints::reset();
        delete std::exchange(dataDir, nullptr);
        delete std::exchange(tools, nullptr);
    }

    void matching_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("expected");
        const QString n = QStringLiteral("Connect Iceland");
        const QString d = QStringLiteral("VPN: Connect to Iceland server");
        QTest::newRow("empty query") << QString() << n << d << true;
        QTest::newRow("title substring") << QStringLiteral("ice") << n << d << true;
        QTest::newRow("description only") << QStringLiteral("vpn:") << n << d << true;
        QTest::newRow("across fields") << QStringLiteral("iceland vpn") << n << d << false;
        QTest::newRow("not trimmed") << QStringLiteral(" connect") << n << d << true;
        QTest::newRow("leading blank fails") << QStringLiteral(" ice") << QStringLiteral("Iceland") << QString() << false;
        QTest::newRow("words not split") << QStringLiteral("connect germany") << n << d << false;
        QTest::newRow("icon not searched") << QStringLiteral("\U0001F1EE") << n << d << false;
        QTest::newRow("regex chars literal") << QStringLiteral(".*") << n << d << false;
        QTest::newRow("slash in title") << QStringLiteral("n / s") << QStringLiteral("Login / Sync Keys") << QString() << true;
    }
    void matching()
    {
        QFETCH(QString, query);
        QFETCH(QString, name);
        QFETCH(QString, description);
        QTEST(CommandPalette::matches(query, name, description), "expected");
    }

    void rowText()
    {
        const CommandPalette::CommandItem item{QStringLiteral("New Tab"), QStringLiteral("Open a new browser tab"),
                                               QStringLiteral("\U0001F4C4"), {}};
        QCOMPARE(CommandPalette::rowText(item), QStringLiteral("\U0001F4C4  New Tab\n    Open a new browser tab"));
    }

    void listingOnOpenAndReopen()
    {
        startWindow();
        QVERIFY(palette->commandItems().isEmpty());
        QListWidget *list = palette->listWidget();
        for (int round = 0; round < 2; ++round) {
            open();
            QCOMPARE(palette->geometry().center(), window->geometry().center());
            QCOMPARE(listedNames(*palette).mid(0, 22), fixedNames);
            QCOMPARE(list->count(), 22 + window->tabs()->count());
            QCOMPARE(list->selectedItems(), QList<QListWidgetItem *>{list->item(0)});
            QVERIFY(palette->searchField()->text().isEmpty());
            QTRY_VERIFY(palette->searchField()->hasFocus());
            // A query and selection left behind are dropped on the next opening.
            QTest::keyClicks(palette->searchField(), QStringLiteral("wipe"));
            QCOMPARE(list->count(), 2);
            QTest::keyClick(palette->searchField(), Qt::Key_Down);
            QTest::keyClick(palette->searchField(), Qt::Key_Escape);
            QVERIFY(!palette->isVisible());
        }
    }

    void filtering_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("tabEntries");
        const QStringList vpn{QStringLiteral("Connect VPN"),     QStringLiteral("Connect Iceland"),
                              QStringLiteral("Connect USA"),     QStringLiteral("Connect Germany"),
                              QStringLiteral("Disconnect VPN"),  QStringLiteral("Login / Sync Keys")};
        QTest::newRow("VpN") << QStringLiteral("VpN") << vpn << false;
        const QStringList tab{QStringLiteral("New Tab"), QStringLiteral("Close Tab")};
        QTest::newRow("TAB") << QStringLiteral("TAB") << tab << true;
        QTest::newRow("cookies") << QStringLiteral("cookies")
                                 << QStringList{QStringLiteral("Ghost Mode"), QStringLiteral("Wipe Everything")} << false;
        QTest::newRow("nothing") << QStringLiteral("no such command") << QStringList() << false;
    }
    void filtering()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        QFETCH(bool, tabEntries);
        startWindow();
        for (int i = 0; tabEntries && i < window->tabs()->count(); ++i)
            expected << QStringLiteral("Switch to Tab: ") + window->tabs()->tabText(i);
        open();
        QTest::keyClicks(palette->searchField(), query);
        QCOMPARE(listedNames(*palette), expected);
        QCOMPARE(palette->listWidget()->currentRow(), expected.isEmpty() ? -1 : 0);
    }

    void keys()
    {
        startWindow();
        open();
        QLineEdit *field = palette->searchField();
        QTest::keyClicks(field, QStringLiteral("vpn: connect "));
        QCOMPARE(palette->listWidget()->count(), 3);
        // Up and Down move the selection, stopping at the ends, not the text cursor.
        QList<int> rows;
        for (Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Up}) {
            QTest::keyClick(field, key);
            rows << palette->listWidget()->currentRow();
        }
        QCOMPARE(rows, (QList<int>{0, 1, 2, 2, 1}));
        QCOMPARE(field->text(), QStringLiteral("vpn: connect "));
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, QStringLiteral("zzz"));
        QCOMPARE(field->text(), QStringLiteral("vpn: connectzzz"));
        // Without a match the keys do nothing.
        QCOMPARE(palette->listWidget()->count(), 0);
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(field, key);
            QVERIFY(palette->isVisible());
            QCOMPARE(palette->listWidget()->currentRow(), -1);
        }
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!palette->isVisible());
    }

    void runningHidesPalette_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("how");
        QTest::newRow("Return") << QStringLiteral("open a new browser tab") << 0;
        QTest::newRow("Enter") << QStringLiteral("fullscreen") << 1;
        // Single-click desktops report a click as clicked and activated: it runs once.
        QTest::newRow("click") << QStringLiteral("open a new browser tab") << 2;
        QTest::newRow("wipe") << QStringLiteral("wipe everything") << 0;
        QTest::newRow("close tab") << QStringLiteral("close tab") << 0;
    }
    void runningHidesPalette()
    {
        QFETCH(QString, query);
        QFETCH(int, how);
        startWindow();
        const int tabsBefore = window->tabs()->count();
        open();
        QTest::keyClicks(palette->searchField(), query);
        QCOMPARE(palette->listWidget()->count(), 1);
        if (how == 0) {
            QTest::keyClick(palette->searchField(), Qt::Key_Return);
        } else if (how == 1) {
            QTest::keyClick(palette->searchField(), Qt::Key_Enter, Qt::KeypadModifier);
        } else {
            emit palette->listWidget()->itemClicked(palette->listWidget()->item(0));
            emit palette->listWidget()->itemActivated(palette->listWidget()->item(0));
        }
        QVERIFY(!palette->isVisible());
        QVERIFY(!palette->testAttribute(Qt::WA_DeleteOnClose));
        if (query.contains(QLatin1String("new browser tab")))
            QCOMPARE(window->tabs()->count(), tabsBefore + 1);
    }

    void tabEntriesFollowTabs()
    {
        startWindow();
        QTabWidget *tabs = window->tabs();
        auto entries = [](const QStringList &titles) {
            QStringList out;
            for (const QString &t : titles)
                out << QStringLiteral("Switch to Tab: ") + t;
            return out;
        };
        window->onNewTab();
        window->onNewTab();
        tabs->setTabText(0, QStringLiteral("Alpha"));
        tabs->setTabText(1, QStringLiteral("Same"));
        tabs->setTabText(2, QStringLiteral("Same"));
        open();
        QCOMPARE(listedNames(*palette).mid(22), entries({"Alpha", "Same", "Same"}));
        QTest::keyClick(palette->searchField(), Qt::Key_Escape);

        // Changes while hidden show up on the next opening.
        tabs->setTabText(0, QStringLiteral("Renamed"));
        window->onNewTab();
        tabs->setTabText(3, QStringLiteral("Fourth"));
        tabs->setCurrentIndex(0);
        open();
        QCOMPARE(listedNames(*palette).mid(22), entries({"Renamed", "Same", "Same", "Fourth"}));
        QTest::keyClick(palette->searchField(), Qt::Key_Escape);

        // Two tabs with one title: each entry reaches its own tab.
        run(QStringLiteral("switch to tab: same"), QStringLiteral("Switch to Tab: Same"));
        QCOMPARE(tabs->currentIndex(), 1);
        open();
        QTest::keyClicks(palette->searchField(), QStringLiteral("switch to tab: same"));
        QTest::keyClick(palette->searchField(), Qt::Key_Down);
        QTest::keyClick(palette->searchField(), Qt::Key_Return);
        QCOMPARE(tabs->currentIndex(), 2);
    }

    void paletteHiddenBeforeCommandRuns()
    {
        startWindow();
        window->onNewTab();
        QList<bool> visibleWhenRun;
        connect(window->tabs(), &QTabWidget::currentChanged, palette, [&] { visibleWhenRun << palette->isVisible(); });
        connect(window->statusBar(), &QStatusBar::messageChanged, palette,
                [&](const QString &m) { if (!m.isEmpty()) visibleWhenRun << palette->isVisible(); });
        window->tabs()->setTabText(0, QStringLiteral("First"));
        window->tabs()->setCurrentIndex(1);
        visibleWhenRun.clear();
        run(QStringLiteral("tab: "), QStringLiteral("Switch to Tab: First"));
        QCOMPARE(window->tabs()->currentIndex(), 0);
        run(QStringLiteral("wipe history"), QStringLiteral("Wipe History"));
        QCOMPARE(visibleWhenRun, (QList<bool>{false, false}));
    }

    void vpnCommandsConnectByCountry_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("serverId");
        QTest::newRow("Iceland") << QStringLiteral("Connect Iceland") << QStringLiteral("is1");
        QTest::newRow("USA") << QStringLiteral("Connect USA") << QStringLiteral("us1");
        QTest::newRow("Germany") << QStringLiteral("Connect Germany") << QStringLiteral("de1");
    }
    void vpnCommandsConnectByCountry()
    {
        QFETCH(QString, command);
        QFETCH(QString, serverId);
        startWindow();
        window->vpn()->setStoredKeys(AccountServiceStub::goodKeys());
        tools->clearCalls();
        run(command.toLower(), command);
        QTRY_VERIFY(!tools->callsOf(QStringLiteral("wg-quick")).isEmpty());
        const QString call = tools->callsOf(QStringLiteral("wg-quick")).first();
        QVERIFY2(call.startsWith(QStringLiteral("wg-quick up ")), qPrintable(call));
        QVERIFY2(call.endsWith(QStringLiteral("/orvex_") + serverId + QStringLiteral(".conf")), qPrintable(call));
    }

    void wipingData_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("emptied");
        QTest::newRow("history") << QStringLiteral("Wipe History") << QStringLiteral("History cleared!")
                                 << QStringList{"history.json"};
        QTest::newRow("everything") << QStringLiteral("Wipe Everything") << QStringLiteral("All data cleared!")
                                    << QStringList{"history.json", "bookmarks.json", "passwords.json", "session.json"};
    }
    void wipingData()
    {
        QFETCH(QString, command);
        QFETCH(QString, message);
        QFETCH(QStringList, emptied);
        const QHash<QString, QByteArray> seeded{
            {"history.json", "[{\"timestamp\":\"2025-03-01T14:05:09\",\"title\":\"A\",\"url\":\"https://a.example/\"}]"},
            {"bookmarks.json", "[{\"added\":\"2025-03-01T14:05:09\",\"title\":\"B\",\"url\":\"https://b.example/\"}]"},
            {"passwords.json",
             "[{\"added\":\"2025-03-01T14:05:09\",\"password\":\"cHc=\",\"url\":\"https://c.example/\",\"username\":\"u\"}]"},
            {"settings.json", "{\"theme\":\"dark\"}"}};
        for (auto it = seeded.cbegin(); it != seeded.cend(); ++it)
            dataDir->writeFile(it.key(), it.value());
        startWindow();
        const QAbstractItemModel *completions = window->addressBar()->completer()->model();
        QVERIFY(!completions->match(completions->index(0, 0), Qt::DisplayRole, QStringLiteral("https://a.example/")).isEmpty());

        QElapsedTimer clock;
        clock.start();
        run(command.toLower(), command);
        QCOMPARE(window->statusBar()->currentMessage(), message);
        for (const QString &name : emptied) {
            const QJsonDocument doc = QJsonDocument::fromJson(dataDir->readFile(name));
            QVERIFY2(doc.isArray() && doc.array().isEmpty(), qPrintable(name));
        }
        for (auto it = seeded.cbegin(); it != seeded.cend(); ++it) {
            if (!emptied.contains(it.key()))
                QCOMPARE(dataDir->readFile(it.key()), it.value());
        }
        // Wiped addresses are no longer offered by the address bar.
        for (int row = 0; row < completions->rowCount(); ++row) {
            const QString entry = completions->index(row, 0).data().toString();
            QVERIFY2(!entry.contains(QLatin1String("a.example")), qPrintable(entry));
            if (emptied.contains(QLatin1String("bookmarks.json")))
                QVERIFY2(!entry.contains(QLatin1String("b.example")), qPrintable(entry));
        }
        // The message stays for three seconds (a coarse timer: within 5 %), then goes.
        QTRY_VERIFY_WITH_TIMEOUT(window->statusBar()->currentMessage().isEmpty(), 4500);
        QVERIFY2(clock.elapsed() >= 2800, qPrintable(QString::number(clock.elapsed())));
    }

    void wipeEverythingDropsCookies()
    {
        startWindow();
        // The cookie store works once the profile has a page.
        QWebEnginePage page(QWebEngineProfile::defaultProfile());
        QSignalSpy loaded(&page, &QWebEnginePage::loadFinished);
        page.setHtml(QStringLiteral("<p>x</p>"));
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 15000);
        QWebEngineCookieStore *store = QWebEngineProfile::defaultProfile()->cookieStore();
        QSignalSpy added(store, &QWebEngineCookieStore::cookieAdded);
        QSignalSpy removed(store, &QWebEngineCookieStore::cookieRemoved);
        QNetworkCookie cookie("session", "secret");
        cookie.setDomain(QStringLiteral("tracker.example"));
        cookie.setPath(QStringLiteral("/"));
        store->setCookie(cookie, QUrl(QStringLiteral("https://tracker.example/")));
        QTRY_COMPARE(added.size(), 1);
        run(QStringLiteral("wipe everything"), QStringLiteral("Wipe Everything"));
        QTRY_VERIFY(!removed.isEmpty());
        QCOMPARE(removed.first().first().value<QNetworkCookie>().name(), QByteArray("session"));
    }

    void withoutWindow()
    {
        CommandPalette orphan(nullptr);
        orphan.show();
        QVERIFY(QTest::qWaitForWindowExposed(&orphan));
        QCOMPARE(orphan.commandItems().size(), 22);
        for (const CommandPalette::CommandItem &item : orphan.commandItems())
            item.action(); // every target is missing: nothing happens
    }
};

int main(int argc, char **argv)
{
    // Qt WebEngine wants shared GL contexts before the application exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestCommandPalette test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_commandpalette.moc"
