#include "CommandPalette.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "ServiceEndpoints.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"

#include <QCompleter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkCookie>
#include <QStatusBar>
#include <QTabWidget>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QtTest>

namespace {
QStringList listedNames(const CommandPalette &p)
{
    QStringList out;
    for (int i = 0; i < p.listWidget()->count(); ++i)
        out << p.commandItems().value(p.listWidget()->item(i)->data(Qt::UserRole).toInt()).name;
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
        palette->activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(palette));
    }
    // Moves to `name` with the arrow keys after typing `query`, then presses Return.
    void run(const QString &query, const QString &name)
    {
        open();
        QTest::keyClicks(palette->searchField(), query);
        for (int guard = 0; guard < palette->listWidget()->count(); ++guard) {
            if (listedNames(*palette).value(palette->listWidget()->currentRow()) == name)
                break;
            QTest::keyClick(palette->searchField(), Qt::Key_Down);
        }
        QCOMPARE(listedNames(*palette).value(palette->listWidget()->currentRow()), name);
        QTest::keyClick(palette->searchField(), Qt::Key_Return);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Start the engine here: its start-up notes about the missing GPU are not the product's.
        QWebEngineProfile::defaultProfile()->cookieStore();
    }
    void init()
    {
        // Offscreen lacks raise/keyboard grab; the engine may report its missing GPU late.
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

    void filtering_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("VpN") << QStringLiteral("VpN")
                             << QStringList{"Connect VPN", "Connect Iceland", "Connect USA", "Connect Germany",
                                            "Disconnect VPN", "Login / Sync Keys"};
        QTest::newRow("TAB, then tab entries") << QStringLiteral("TAB")
                                               << QStringList{"New Tab", "Close Tab", "Switch to Tab: Alpha", "Switch to Tab: Same",
                                                              "Switch to Tab: Same"};
        QTest::newRow("cookies") << QStringLiteral("cookies") << QStringList{"Ghost Mode", "Wipe Everything"};
        QTest::newRow("across fields") << QStringLiteral("iceland vpn") << QStringList();
        QTest::newRow("regex chars literal") << QStringLiteral(".*") << QStringList();
    }
    void filtering()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        startWindow();
        window->onNewTab();
        window->onNewTab();
        const QStringList titles{"Alpha", "Same", "Same"};
        for (int i = 0; i < titles.size(); ++i)
            window->tabs()->setTabText(i, titles[i]);
        open();
        QTest::keyClicks(palette->searchField(), query);
        QCOMPARE(listedNames(*palette), expected);
        QCOMPARE(palette->listWidget()->currentRow(), expected.isEmpty() ? -1 : 0);
    }

    void keysStopAtEnds()
    {
        startWindow();
        open();
        QLineEdit *field = palette->searchField();
        QTest::keyClicks(field, QStringLiteral("vpn: connect "));
        QList<int> rows;
        for (Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Up}) {
            QTest::keyClick(field, key);
            rows << palette->listWidget()->currentRow();
        }
        QCOMPARE(rows, (QList<int>{0, 1, 2, 2, 1}));
        QCOMPARE(field->text(), QStringLiteral("vpn: connect "));
        QTest::keyClicks(field, QStringLiteral("zzz"));
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Return}) {
            QTest::keyClick(field, key);
            QVERIFY(palette->isVisible());
        }
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!palette->isVisible());
    }

    // Tab changes while hidden show up on the next opening; each entry reaches its own tab.
    void tabEntriesAndHidingBeforeRun()
    {
        startWindow();
        QTabWidget *tabs = window->tabs();
        window->onNewTab();
        window->onNewTab();
        tabs->setTabText(0, QStringLiteral("First"));
        tabs->setTabText(1, QStringLiteral("Same"));
        tabs->setTabText(2, QStringLiteral("Same"));
        QList<bool> visibleWhenRun;
        connect(tabs, &QTabWidget::currentChanged, palette, [&] { visibleWhenRun << palette->isVisible(); });
        connect(window->statusBar(), &QStatusBar::messageChanged, palette,
                [&](const QString &m) { if (!m.isEmpty()) visibleWhenRun << palette->isVisible(); });
        run(QStringLiteral("tab: first"), QStringLiteral("Switch to Tab: First"));
        QCOMPARE(tabs->currentIndex(), 0);
        run(QStringLiteral("switch to tab: same"), QStringLiteral("Switch to Tab: Same"));
        QCOMPARE(tabs->currentIndex(), 1);
        open();
        QTest::keyClicks(palette->searchField(), QStringLiteral("switch to tab: same"));
        QTest::keyClick(palette->searchField(), Qt::Key_Down);
        QTest::keyClick(palette->searchField(), Qt::Key_Return);
        QCOMPARE(tabs->currentIndex(), 2);
        tabs->setTabText(0, QStringLiteral("Renamed"));
        run(QStringLiteral("renamed"), QStringLiteral("Switch to Tab: Renamed"));
        QCOMPARE(tabs->currentIndex(), 0);
        run(QStringLiteral("wipe history"), QStringLiteral("Wipe History"));
        QCOMPARE(visibleWhenRun, QList<bool>(5, false));
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
        const QAbstractItemModel *completions = window->addressBar()->completer()->model();
        for (int row = 0; row < completions->rowCount(); ++row)
            QVERIFY(!completions->index(row, 0).data().toString().contains(emptied.size() > 1 ? "example" : "a.example"));
        QTest::qWait(300);
        QTRY_COMPARE(removed.isEmpty(), emptied.size() == 1);
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
