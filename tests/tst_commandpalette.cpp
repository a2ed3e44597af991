#include "AccountServiceStub.h"
#include "AccountSyncManager.h"
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

// What a menu shows of an action's text: "&&" is an '&', a lone '&' marks a shortcut.
static QString shownInMenu(QString text)
{
    return text.replace(u"&&"_s, u"\x01"_s).remove(u'&').replace(u'\x01', u'&');
}

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

    // Equal titles each reach their own tab; a title's markup is listed as text.
    // Single-click desktops report a click as clicked and activated: it runs once.
    void equalTabTitlesAndClickRunsOnce()
    {
        startWindow();
        QTabWidget *tabs = window->tabs();
        window->onNewTab();
        window->onNewTab();
        tabs->setTabText(1, u"<b>Same</b>"_s);
        tabs->setTabText(2, u"<b>Same</b>"_s);
        tabs->setCurrentIndex(0);
        run(u"switch to tab: <b>same"_s);
        QCOMPARE(tabs->currentIndex(), 1);
        QCOMPARE(palette->listWidget()->item(0)->text().section(u'\n', 0, 0), u"\U0001F4D1  Switch to Tab: <b>Same</b>"_s);
        run(u"switch to tab: <b>same"_s, 1);
        QCOMPARE(tabs->currentIndex(), 2);
        open();
        QTest::keyClicks(palette->searchField(), u"open a new browser tab"_s);
        emit palette->listWidget()->itemClicked(palette->listWidget()->item(0));
        emit palette->listWidget()->itemActivated(palette->listWidget()->item(0));
        QCOMPARE(tabs->count(), 4);
    }

    // Asked first (No is the default). Everything it names goes, with the downloads list
    // and the copies kept of damaged stores; the address bar stops offering wiped
    // addresses. A store that cannot be written is reported, not claimed cleared.
    void wipeEverything_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("unwritable");
        QTest::newRow("declined") << "No" << "";
        QTest::newRow("confirmed") << "Yes" << "";
        QTest::newRow("confirmed, a store cannot be written") << "Yes" << "bookmarks.json";
    }
    void wipeEverything()
    {
        QFETCH(QString, answer);
        QFETCH(QString, unwritable);
        const TempDataDir &dir = env->dir;
        const QByteArray history = "[{\"timestamp\":\"2025-03-01T14:05:09\",\"title\":\"A\",\"url\":\"https://a.example/\"}]";
        const QMap<QString, QByteArray> seeded{
            {u"history.json"_s, history},
            {u"bookmarks.json"_s, "[{\"url\":\"https://b.example/\",\"title\":\"B\"}]"},
            {u"passwords.json"_s, "[{\"url\":\"https://c.example/\",\"username\":\"ann\",\"password\":\"" + DataManager::encryptPasswordStatic(u"s3cret"_s).toUtf8() + "\"}]"},
            {u"settings.json"_s, "{\"adBlocking\":false}"},
            {u"downloads.json"_s, "[{\"url\":\"https://d.example/f.zip\",\"filename\":\"f.zip\"}]"},
            {u"passwords.json.corrupt-20250301-140509"_s, "[{\"url\":\"https://old.example/\",\"pass"},
            {u"search_engines.json.corrupt-20250301-140509"_s, "{\"engines\""},
        };
        for (auto it = seeded.cbegin(); it != seeded.cend(); ++it)
            dir.writeFile(it.key(), it.value());
        startWindow();
        QWebEngineCookieStore *store = QWebEngineProfile::defaultProfile()->cookieStore();
        QSignalSpy added(store, &QWebEngineCookieStore::cookieAdded);
        QSignalSpy removed(store, &QWebEngineCookieStore::cookieRemoved);
        store->setCookie(QNetworkCookie::parseCookies("session=secret; Domain=tracker.example; Path=/").first(),
                         QUrl(u"https://tracker.example/"_s));
        QTRY_COMPARE(added.size(), 1);
        if (!unwritable.isEmpty()) {
            QVERIFY(QFile::remove(dir.filePath(unwritable)) && QDir().mkdir(dir.filePath(unwritable)));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^DataManager: could not write .*" + unwritable));
        }
        const QAbstractItemModel *completions = window->addressBar()->completer()->model();
        const auto offered = [&] { return completions->match(completions->index(0, 0), Qt::DisplayRole, u"a.example"_s, 1, Qt::MatchContains); };
        QCOMPARE(offered().size(), 1);

        ModalAnswerer answerer({answer, u"OK"_s});
        run(u"wipe everything"_s);
        QVERIFY(answerer.seen().value(0).label.startsWith(u"Delete the browsing history, bookmarks, saved passwords, settings"_s));
        const QStringList files = QDir(dir.dataFolder()).entryList(QDir::Files | QDir::Hidden);
        if (answer == u"No") {
            QCOMPARE(answerer.seen().size(), 1);
            QCOMPARE(offered().size(), 1);
            for (auto it = seeded.cbegin(); it != seeded.cend(); ++it)
                QCOMPARE(dir.readFile(it.key()), it.value());
            return;
        }
        QVERIFY(offered().isEmpty());
        QTRY_VERIFY(!removed.isEmpty());
        QCOMPARE(removed.first().first().value<QNetworkCookie>().name(), QByteArray("session"));
        QCOMPARE(files.filter(u".corrupt-"_s), QStringList());
        for (const char *name : {"history.json", "session.json", "passwords.json", "downloads.json", "bookmarks.json"}) {
            if (unwritable != QLatin1String(name))
                QCOMPARE(QJsonDocument::fromJson(dir.readFile(QLatin1String(name))).array(), QJsonArray());
        }
        QCOMPARE(QJsonDocument::fromJson(dir.readFile(u"settings.json"_s)).object(), DataManager::defaultSettings());
        if (unwritable.isEmpty()) {
            QCOMPARE(answerer.seen().size(), 1);
            QCOMPARE(window->statusBar()->currentMessage(), u"All data cleared!"_s);
        } else {
            QCOMPARE(answerer.seen().size(), 2);
            QCOMPARE(answerer.seen().at(1).label, "Some data could not be cleared:\n" + dir.filePath(unwritable));
            QCOMPARE(window->statusBar()->currentMessage(), u"Some data could not be cleared"_s);
        }
    }

    // The user name from the account service is shown as sent, never as rich text.
    // Logging out, from the account button's menu or the palette, asks first and
    // then forgets the login and the synced WireGuard configuration.
    void accountLogOut_data()
    {
        QTest::addColumn<bool>("fromButton");
        QTest::addColumn<QString>("answer");
        QTest::newRow("account button, confirmed") << true << "Yes";
        QTest::newRow("palette, declined") << false << "No";
    }
    void accountLogOut()
    {
        QFETCH(bool, fromButton);
        QFETCH(QString, answer);
        AccountServiceStub service;
        QVERIFY(service.listen());
        service.setKeysReply(AccountServiceStub::KeysReply::MarkupUserName);
        startWindow();
        AccountSyncManager *sync = window->accountSync();
        sync->setBaseUrl(service.baseUrl());
        sync->saveToken(AccountServiceStub::sessionToken(), AccountServiceStub::markup());
        QString shown;
        bool plain = false;
        ModalAnswerer::answer([&](QWidget *w) {
            if (auto *box = qobject_cast<QMessageBox *>(w)) {
                shown = box->text();
                plain = box->textFormat() == Qt::PlainText || !Qt::mightBeRichText(shown);
            }
            qobject_cast<QDialog *>(w)->accept();
        });
        sync->syncKeys();
        QTRY_COMPARE(shown, "Keys synced for " + AccountServiceStub::markup() + "\nWireGuard IP: 10.66.0.7");
        QVERIFY(plain);
        QTRY_VERIFY(QFileInfo::exists(sync->wireGuardConfigPath()));

        ModalAnswerer answerer({answer});
        if (fromButton) {
            QString who;
            ModalAnswerer::answer([&who](QWidget *w) {
                auto *menu = qobject_cast<QMenu *>(w);
                menu->hide();
                who = shownInMenu(menu->actions().value(0)->text());
                for (QAction *a : menu->actions())
                    if (a->text() == u"Log out"_s)
                        a->trigger();
            });
            QTest::mouseClick(window->findChild<QPushButton *>(u"accountButton"_s), Qt::LeftButton);
            QCOMPARE(who, "Logged in as " + AccountServiceStub::markup());
        } else {
            run(u"log out"_s);
        }
        QTRY_VERIFY(answerer.allAnswered());
        QVERIFY(answerer.seen().value(0).label.startsWith(u"Log out of your OrvexVPN account?"_s));
        const bool out = answer == u"Yes";
        QCOMPARE(sync->hasValidToken(), !out);
        QCOMPARE(QFileInfo::exists(sync->wireGuardConfigPath()), !out);
        QCOMPARE(window->statusBar()->currentMessage() == u"Logged out"_s, out);
    }

    // A title is listed in the bookmarks menu as written, '&' and all.
    void bookmarksMenuShowsTitlesAsWritten()
    {
        env->dir.writeFile(u"bookmarks.json"_s, "[{\"url\":\"https://qa.example/\",\"title\":\"Q&A <b>forum</b>\"}]");
        startWindow();
        QString listed;
        ModalAnswerer::answer([&listed](QWidget *w) {
            auto *menu = qobject_cast<QMenu *>(w);
            listed = shownInMenu(menu->actions().value(0)->text());
            menu->hide();
        });
        window->onBookmarks();
        QCOMPARE(listed, u"Q&A <b>forum</b>"_s);
    }

    // Without a private folder for the file the page is not printed, and the window says so.
    void printFailureShowsInTheStatusBar()
    {
        startWindow();
        const QString notAFolder = env->dir.path() + u"/not-a-folder"_s;
        QFile file(notAFolder);
        QVERIFY(file.open(QIODevice::WriteOnly));
        qputenv("XDG_RUNTIME_DIR", "");
        qputenv("TMPDIR", QFile::encodeName(notAFolder));
        run(u"print"_s);
        QCOMPARE(window->statusBar()->currentMessage(), u"Printing failed: no private folder for the file"_s);
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
