#include "CommandPalette.h"
#include "MainWindow.h"
#include "TempDataDir.h"

#include <QLineEdit>
#include <QListWidget>
#include <QtTest>

namespace {
const QStringList fixedNames = {
    QStringLiteral("New Tab"),         QStringLiteral("Close Tab"),       QStringLiteral("Connect VPN"),
    QStringLiteral("Toggle AI Panel"), QStringLiteral("Developer Tools"), QStringLiteral("History"),
    QStringLiteral("Bookmarks"),       QStringLiteral("Downloads"),       QStringLiteral("Settings"),
    QStringLiteral("Print"),           QStringLiteral("Find in Page"),    QStringLiteral("Fullscreen"),
    QStringLiteral("Reader Mode"),     QStringLiteral("Connect Iceland"), QStringLiteral("Connect USA"),
    QStringLiteral("Connect Germany"), QStringLiteral("Disconnect VPN"),  QStringLiteral("Ghost Mode"),
    QStringLiteral("Wipe History"),    QStringLiteral("Wipe Everything"), QStringLiteral("Privacy Dashboard"),
    QStringLiteral("Login / Sync Keys")};

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

void type(QWidget *w, const QString &text)
{
    QTest::keyClicks(w, text);
}
}

class TestCommandPalette : public QObject
{
    Q_OBJECT

    TempDataDir *dataDir = nullptr;
    MainWindow *window = nullptr;
    CommandPalette *palette = nullptr;

    void open()
    {
        palette->show();
        palette->raise();
        palette->activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(palette));
    }

private Q_SLOTS:
    void init()
    {
        // The offscreen platform reports window operations it lacks (raise,
        // keyboard grab of the popup); anything else is a real warning.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!This plugin does not support ).*")));
        dataDir = new TempDataDir;
        window = new MainWindow;
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        palette = new CommandPalette(window);
    }
    void cleanup()
    {
        delete window; // owns the palette
        window = nullptr;
        palette = nullptr;
        delete dataDir;
        dataDir = nullptr;
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
        QTest::newRow("upper-case query") << QStringLiteral("ICELAND") << n << d << true;
        QTest::newRow("description only") << QStringLiteral("vpn:") << n << d << true;
        QTest::newRow("across fields") << QStringLiteral("iceland vpn") << n << d << false;
        QTest::newRow("not trimmed") << QStringLiteral(" connect") << n << d << true;
        QTest::newRow("leading blank fails") << QStringLiteral(" ice") << QStringLiteral("Iceland") << QString() << false;
        QTest::newRow("words not split") << QStringLiteral("connect germany") << n << d << false;
        QTest::newRow("no match") << QStringLiteral("zzz") << n << d << false;
        QTest::newRow("icon not searched") << QStringLiteral("\U0001F1EE") << n << d << false;
        QTest::newRow("regex chars literal") << QStringLiteral(".*") << n << d << false;
        QTest::newRow("slash in title") << QStringLiteral("n / s") << QStringLiteral("Login / Sync Keys") << QString() << true;
    }
    void matching()
    {
        QFETCH(QString, query);
        QFETCH(QString, name);
        QFETCH(QString, description);
        QFETCH(bool, expected);
        QCOMPARE(CommandPalette::matches(query, name, description), expected);
    }

    void rowText()
    {
        const CommandPalette::CommandItem item{QStringLiteral("New Tab"), QStringLiteral("Open a new browser tab"),
                                               QStringLiteral("\U0001F4C4"), {}};
        QCOMPARE(CommandPalette::rowText(item), QStringLiteral("\U0001F4C4  New Tab\n    Open a new browser tab"));
    }

    void listingOnOpen()
    {
        QVERIFY(palette->commandItems().isEmpty());
        open();
        QCOMPARE(palette->size(), QSize(600, 400));
        QCOMPARE(palette->geometry().center(), window->geometry().center());
        QCOMPARE(listedNames(*palette).mid(0, 22), fixedNames);
        QCOMPARE(palette->listWidget()->currentRow(), 0);
        QCOMPARE(palette->listWidget()->selectedItems(), QList<QListWidgetItem *>{palette->listWidget()->item(0)});
        QVERIFY(palette->searchField()->text().isEmpty());
        QTRY_VERIFY(palette->searchField()->hasFocus());
        for (int i = 0; i < palette->listWidget()->count(); ++i)
            QCOMPARE(palette->listWidget()->item(i)->data(Qt::UserRole).toInt(), i);
    }

    void reopeningDropsQuery()
    {
        open();
        type(palette->searchField(), QStringLiteral("wipe"));
        QCOMPARE(palette->listWidget()->count(), 2);
        QTest::keyClick(palette->searchField(), Qt::Key_Down);
        QTest::keyClick(palette->searchField(), Qt::Key_Escape);
        QVERIFY(!palette->isVisible());
        open();
        QVERIFY(palette->searchField()->text().isEmpty());
        QCOMPARE(listedNames(*palette).mid(0, 22), fixedNames);
        QCOMPARE(palette->listWidget()->currentRow(), 0);
    }

    void filtering_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("expected");
        const QStringList vpn{QStringLiteral("Connect VPN"),     QStringLiteral("Connect Iceland"),
                              QStringLiteral("Connect USA"),     QStringLiteral("Connect Germany"),
                              QStringLiteral("Disconnect VPN"),  QStringLiteral("Login / Sync Keys")};
        QTest::newRow("vpn") << QStringLiteral("vpn") << vpn;
        QTest::newRow("VpN") << QStringLiteral("VpN") << vpn;
        const QStringList tab{QStringLiteral("New Tab"), QStringLiteral("Close Tab")};
        QTest::newRow("tab") << QStringLiteral("tab") << tab;
        QTest::newRow("TAB") << QStringLiteral("TAB") << tab;
        QTest::newRow("cookies") << QStringLiteral("cookies")
                                 << QStringList{QStringLiteral("Ghost Mode"), QStringLiteral("Wipe Everything")};
        QTest::newRow("nothing") << QStringLiteral("no such command") << QStringList();
    }
    void filtering()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        open();
        type(palette->searchField(), query);
        QCOMPARE(listedNames(*palette), expected);
        QCOMPARE(palette->listWidget()->currentRow(), expected.isEmpty() ? -1 : 0);
    }

    void noMatchKeysDoNothing()
    {
        open();
        type(palette->searchField(), QStringLiteral("zzz"));
        QCOMPARE(palette->listWidget()->count(), 0);
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(palette->searchField(), key);
            QVERIFY(palette->isVisible());
            QCOMPARE(palette->listWidget()->currentRow(), -1);
        }
        QCOMPARE(palette->searchField()->text(), QStringLiteral("zzz"));
        QTest::keyClick(palette->searchField(), Qt::Key_Escape);
        QVERIFY(!palette->isVisible());
    }

    void upDownStopAtEnds()
    {
        open();
        type(palette->searchField(), QStringLiteral("vpn: connect "));
        QCOMPARE(palette->listWidget()->count(), 3);
        QTest::keyClick(palette->searchField(), Qt::Key_Up);
        QCOMPARE(palette->listWidget()->currentRow(), 0);
        QTest::keyClick(palette->searchField(), Qt::Key_Down);
        QTest::keyClick(palette->searchField(), Qt::Key_Down);
        QCOMPARE(palette->listWidget()->currentRow(), 2);
        QTest::keyClick(palette->searchField(), Qt::Key_Down);
        QCOMPARE(palette->listWidget()->currentRow(), 2);
        QTest::keyClick(palette->searchField(), Qt::Key_Up);
        QCOMPARE(palette->listWidget()->currentRow(), 1);
        // The arrows move the list, not the text cursor; other keys still edit.
        QCOMPARE(palette->searchField()->text(), QStringLiteral("vpn: connect "));
        QTest::keyClick(palette->searchField(), Qt::Key_Backspace);
        QCOMPARE(palette->searchField()->text(), QStringLiteral("vpn: connect"));
    }

    void runningHidesPalette_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("how");
        QTest::newRow("Return") << QStringLiteral("new tab") << 0;
        QTest::newRow("Enter") << QStringLiteral("fullscreen") << 1;
        QTest::newRow("click") << QStringLiteral("print") << 2;
        // Targets the window does not have yet do nothing.
        QTest::newRow("no data store") << QStringLiteral("wipe everything") << 0;
        QTest::newRow("no tabs") << QStringLiteral("close tab") << 0;
    }
    void runningHidesPalette()
    {
        QFETCH(QString, query);
        QFETCH(int, how);
        open();
        type(palette->searchField(), query);
        QCOMPARE(palette->listWidget()->count(), 1);
        if (how == 0)
            QTest::keyClick(palette->searchField(), Qt::Key_Return);
        else if (how == 1)
            QTest::keyClick(palette->searchField(), Qt::Key_Enter, Qt::KeypadModifier);
        else
            QTest::mouseClick(palette->listWidget()->viewport(), Qt::LeftButton, {},
                              palette->listWidget()->visualItemRect(palette->listWidget()->item(0)).center());
        QVERIFY(!palette->isVisible());
        QVERIFY(!palette->testAttribute(Qt::WA_DeleteOnClose));
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

QTEST_MAIN(TestCommandPalette)
#include "tst_commandpalette.moc"
