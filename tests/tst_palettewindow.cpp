#include "CommandPalette.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "ServiceEndpoints.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QtTest>

// The palette as a user reaches it: shortcut, typing, Return, and the dialog
// the chosen command opens.
class TestPaletteWindow : public QObject
{
    Q_OBJECT

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
    }
    void cleanup() { ServiceEndpoints::reset(); }

    void shortcutTypeAndRunOpensHistory()
    {
        FakeTools tools;
        tools.setIpOutputFromSample(QStringLiteral("openvpn-tun-up"));
        TempDataDir dataDir;
        TestHttpServer account;
        QVERIFY(account.listen());
        account.setPage("/", "<html><body>home</body></html>");
        ServiceEndpoints::setAccountUrl(account.baseUrl());

        MainWindow window;
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        QVERIFY(!window.palette());
        QTest::keyClick(&window, Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_VERIFY(window.palette() && window.palette()->isVisible());
        CommandPalette *palette = window.palette();
        QTRY_VERIFY(palette->searchField()->hasFocus());
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("history"));
        QCOMPARE(palette->listWidget()->currentItem()->text().section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("\U0001F552  History"));

        // The dialog runs modally inside the key press: look at it from the event loop.
        QString modalClass;
        bool paletteVisibleUnderDialog = true;
        QTimer probe;
        probe.setInterval(20);
        connect(&probe, &QTimer::timeout, this, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            probe.stop();
            modalClass = QString::fromLatin1(dialog->metaObject()->className());
            paletteVisibleUnderDialog = palette->isVisible();
            dialog->reject();
        });
        probe.start();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(modalClass, QStringLiteral("HistoryDialog"));
        QVERIFY(!paletteVisibleUnderDialog);
        QVERIFY(!palette->isVisible());

        // Same instance next time, query reset (the shortcut itself is proven above;
        // focus after a closed modal dialog is up to the platform).
        window.onCommandPalette();
        QTRY_VERIFY(palette->isVisible());
        QCOMPARE(window.palette(), palette);
        QVERIFY(palette->searchField()->text().isEmpty());
        QCOMPARE(palette->listWidget()->count(), 22 + window.tabs()->count());
        QTest::keyClick(palette->searchField(), Qt::Key_Escape);
        QVERIFY(!palette->isVisible());
    }
};

int main(int argc, char **argv)
{
    // Qt WebEngine wants shared GL contexts before the application exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestPaletteWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_palettewindow.moc"
