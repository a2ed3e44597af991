#include "CommandPalette.h"
#include "DataManager.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "ModalAnswerer.h"
#include "ServiceEndpoints.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"

#include <QtTest>
#include <QtWebEngineCore>
#include <QtWidgets>

using namespace Qt::StringLiterals;

class TestCommandPalette : public QObject
{
    Q_OBJECT

    // Per test: fake VPN tools, a fresh data folder and a loopback stand-in for the home page.
    struct Env {
        FakeTools tools;
        TempDataDir dir;
        TestHttpServer account;
    };
    std::unique_ptr<Env> env;
    std::unique_ptr<MainWindow> window;
    CommandPalette *palette = nullptr;

    // The window reads its data folder when it is built, so seed files first.
    void startWindow()
    {
        window = std::make_unique<MainWindow>();
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    void open()
    {
        window->onCommandPalette();
        palette = window->palette();
        QVERIFY(QTest::qWaitForWindowExposed(palette));
    }
    // Opens the palette, types `query`, moves `downs` rows down and presses Return.
    void run(const QString &query, int downs = 0)
    {
        open();
        QTest::keyClicks(palette->searchField(), query);
        QVERIFY(palette->listWidget()->count() > downs);
        for (int i = 0; i < downs; ++i)
            QTest::keyClick(palette->searchField(), Qt::Key_Down);
        QTest::keyClick(palette->searchField(), Qt::Key_Return);
    }
    QStringList listedNames() const
    {
        QStringList out;
        for (int i = 0; i < palette->listWidget()->count(); ++i)
            out << palette->commandItems().value(palette->listWidget()->item(i)->data(Qt::UserRole).toInt()).name;
        return out;
    }

private Q_SLOTS:
    // Start the web engine here: its start-up notes about the missing GPU are not the product's.
    void initTestCase() { QWebEngineProfile::defaultProfile()->cookieStore(); }
    void init()
    {
        // The offscreen platform reports window operations it lacks (raise, keyboard grab
        // of the popup); the engine may announce its missing GPU late, from its own thread.
        QTest::failOnWarning(QRegularExpression(
            QStringLiteral(R"re(^(?!This plugin does not support |No suitable graphics backend|WebEngineContext used before).*)re")));
        env = std::make_unique<Env>();
        QVERIFY(env->account.listen());
        env->account.setPage("/", "<html><body>home</body></html>");
        ServiceEndpoints::setAccountUrl(env->account.baseUrl());
    }
    void cleanup()
    {
        window.reset(); // owns the palette
        ServiceEndpoints::reset();
        env.reset();
    }

    // As a user reaches it: the shortcut, then filtering (title or description, any case,
    // regex characters literal), Return; the chosen dialog opens after the palette is gone.
    void shortcutFilterAndRun()
    {
        startWindow();
        QTest::keyClick(window.get(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_VERIFY(window->palette() && window->palette()->isVisible());
        palette = window->palette();
        palette->searchField()->setText(u"VpN"_s);
        QCOMPARE(listedNames(), (QStringList{"Connect VPN", "Connect Iceland", "Connect USA", "Connect Germany",
                                             "Disconnect VPN", "Login / Sync Keys"}));
        palette->searchField()->setText(u"cookies"_s);
        QCOMPARE(listedNames(), (QStringList{"Ghost Mode", "Wipe Everything"}));
        palette->searchField()->setText(u".*"_s);
        QCOMPARE(listedNames(), QStringList());
        palette->searchField()->clear();
        QTRY_VERIFY(palette->searchField()->hasFocus());
        QTest::keyClicks(QApplication::focusWidget(), u"history"_s);
        // The dialog runs modally inside the key press: look at it from the event loop.
        QString modalClass;
        bool paletteVisibleUnderDialog = true;
        ModalAnswerer::answer([&](QWidget *dialog) {
            modalClass = QString::fromLatin1(dialog->metaObject()->className());
            paletteVisibleUnderDialog = palette->isVisible();
            qobject_cast<QDialog *>(dialog)->reject();
        });
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(modalClass, u"HistoryDialog"_s);
        QVERIFY(!paletteVisibleUnderDialog);
    }

    // Equal titles each reach their own tab. Single-click desktops report a click as
    // clicked and activated: it runs once.
    void equalTabTitlesAndClickRunsOnce()
    {
        startWindow();
        QTabWidget *tabs = window->tabs();
        window->onNewTab();
        window->onNewTab();
        tabs->setTabText(1, u"Same"_s);
        tabs->setTabText(2, u"Same"_s);
        tabs->setCurrentIndex(0);
        run(u"switch to tab: same"_s);
        QCOMPARE(tabs->currentIndex(), 1);
        run(u"switch to tab: same"_s, 1);
        QCOMPARE(tabs->currentIndex(), 2);
        open();
        QTest::keyClicks(palette->searchField(), u"open a new browser tab"_s);
        emit palette->listWidget()->itemClicked(palette->listWidget()->item(0));
        emit palette->listWidget()->itemActivated(palette->listWidget()->item(0));
        QCOMPARE(tabs->count(), 4);
    }

    // The address bar stops offering wiped addresses; the profile's cookies go too.
    void wipeEverything()
    {
        env->dir.writeFile(u"history.json"_s, "[{\"timestamp\":\"2025-03-01T14:05:09\",\"title\":\"A\",\"url\":\"https://a.example/\"}]");
        startWindow();
        QWebEngineCookieStore *store = QWebEngineProfile::defaultProfile()->cookieStore();
        QSignalSpy added(store, &QWebEngineCookieStore::cookieAdded);
        QSignalSpy removed(store, &QWebEngineCookieStore::cookieRemoved);
        store->setCookie(QNetworkCookie::parseCookies("session=secret; Domain=tracker.example; Path=/").first(),
                         QUrl(u"https://tracker.example/"_s));
        QTRY_COMPARE(added.size(), 1);
        const QAbstractItemModel *completions = window->addressBar()->completer()->model();
        const auto offered = [&] { return completions->match(completions->index(0, 0), Qt::DisplayRole, u"a.example"_s, 1, Qt::MatchContains); };
        QCOMPARE(offered().size(), 1);
        run(u"wipe everything"_s);
        QCOMPARE(window->statusBar()->currentMessage(), u"All data cleared!"_s);
        QVERIFY(offered().isEmpty());
        QTRY_VERIFY(!removed.isEmpty());
        QCOMPARE(removed.first().first().value<QNetworkCookie>().name(), QByteArray("session"));
    }

    // Import and export from the palette: the manager opens with the real file
    // dialog over it; imported bookmarks reach the store and the address bar.
    void importAndExportFromThePalette()
    {
        const QString in = env->dir.downloadDir() + u"/from-chrome.html"_s;
        QFile file(in);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n"
                   "<DT><A HREF=\"https://imported.example/\" ADD_DATE=\"1700000000\">Q&amp;A Page</A>\n"
                   "<DT><A HREF=\"javascript:alert(1)\">Bookmarklet</A>\n</DL><p>\n");
        file.close();
        startWindow();
        QStringList messages;
        QStringList managers;
        QString saveTo;
        // Answers whatever modal window is up, as a person would.
        QTimer driver;
        connect(&driver, &QTimer::timeout, this, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *chooser = qobject_cast<QFileDialog *>(modal)) {
                chooser->selectFile(saveTo.isEmpty() ? in : saveTo);
                QMetaObject::invokeMethod(chooser, "accept");
            } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                messages << box->text();
                (box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok) : box->button(QMessageBox::No))->click();
            } else if (auto *dialog = qobject_cast<QDialog *>(modal); dialog && !messages.isEmpty()) {
                managers << QString::fromLatin1(dialog->metaObject()->className());
                dialog->accept();
            }
        });
        driver.start(20);
        run(u"import bookmarks"_s);
        QCOMPARE(messages, QStringList{u"Imported 1 bookmarks (1 skipped)"_s});
        QCOMPARE(managers, QStringList{u"BookmarksDialog"_s});
        QCOMPARE(window->data()->getBookmarks().size(), 1);
        const auto *completions = qobject_cast<QStringListModel *>(window->addressBar()->completer()->model());
        QVERIFY(completions->stringList().contains(u"https://imported.example/"_s));
        // The bookmarks menu shows the title as written, "&" included.
        driver.stop();
        QStringList menuTexts;
        ModalAnswerer::answer([&](QWidget *popup) {
            for (QAction *action : popup->actions())
                menuTexts << action->text();
            popup->close();
        });
        window->onBookmarks();
        QCOMPARE(menuTexts.first(), u"Q&&A Page"_s);
        driver.start(20);

        messages.clear();
        managers.clear();
        saveTo = env->dir.downloadDir() + u"/out.html"_s;
        run(u"export bookmarks"_s);
        QCOMPARE(messages, QStringList{u"Exported 1 bookmarks to "_s + saveTo});
        QVERIFY(QFile::exists(saveTo));

        // The CSV export warns first; declining writes nothing.
        messages.clear();
        managers.clear();
        run(u"export passwords"_s);
        QCOMPARE(managers, QStringList{u"PasswordDialog"_s});
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages.first().startsWith(u"The CSV file holds your passwords in plain text"_s));
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
