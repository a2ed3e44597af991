#include "DevTools.h"

#include <QApplication>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <memory>

static constexpr int EngineTimeout = 20000;

class TestDevTools : public QObject
{
    Q_OBJECT

    std::unique_ptr<QWidget> host; // stands in for the tab's parent widget

private Q_SLOTS:
    void initTestCase()
    {
        // Start the engine outside any test function: its start-up talk is not ours.
        host = std::make_unique<QWidget>();
        host->resize(1000, 700);
        host->show();
        QVERIFY(QTest::qWaitForWindowExposed(host.get()));
        QWebEngineView warm(host.get());
        QSignalSpy loaded(&warm, &QWebEngineView::loadFinished);
        warm.setHtml(QStringLiteral("<p>warm</p>"));
        QVERIFY(loaded.wait(EngineTimeout));
    }
    void cleanupTestCase() { host.reset(); }
    void init()
    {
        // The engine may announce its missing GPU late, from its own thread.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(R"re(^(?!No suitable graphics backend|WebEngineContext used before).*)re")));
    }

    // No page, or the page gone first: the panel still shows, touching no page.
    void withoutPage_data()
    {
        QTest::addColumn<bool>("hadPage");
        QTest::newRow("no view") << false;
        QTest::newRow("view gone first") << true;
    }
    void withoutPage()
    {
        QFETCH(bool, hadPage);
        auto page = std::make_unique<QWebEngineView>(host.get());
        DevTools panel(hadPage ? page.get() : nullptr, host.get());
        page.reset();
        QVERIFY(!panel.inspectedView());
        panel.setupInspector();
        panel.showConsole();
        QVERIFY(panel.isVisible());
        QCoreApplication::processEvents();
        QVERIFY(!panel.devView()->page()->inspectedPage());
        if (!hadPage)
            QVERIFY(panel.devView()->url().isEmpty());
    }

    // Each one shows the panel, raised above later siblings, with the engine's
    // tools for the inspected page rendered in it.
    void showOperationsAgree_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("console") << 0;
        QTest::newRow("network") << 1;
        QTest::newRow("elements") << 2;
    }
    void showOperationsAgree()
    {
        QFETCH(int, which);
        QWebEngineView page(host.get());
        DevTools panel(&page, host.get());
        QWidget sibling(host.get());
        sibling.setGeometry(0, 0, 1000, 700);
        sibling.show();
        panel.hide();
        void (DevTools::*show)() = which == 0 ? &DevTools::showConsole
                                   : which == 1 ? &DevTools::showNetwork : &DevTools::showElements;
        (panel.*show)();
        QVERIFY(panel.isVisible());
        QWidget *top = nullptr;
        for (QObject *child : host->children()) {
            if (auto *w = qobject_cast<QWidget *>(child); w && w->isVisible())
                top = w;
        }
        QCOMPARE(top, &panel);
        QCOMPARE(panel.widget(), panel.devView());
        QCOMPARE(panel.inspectedView(), &page);
        QCOMPARE(page.page()->devToolsPage(), panel.devView()->page());
        QTRY_COMPARE_WITH_TIMEOUT(panel.devView()->url().scheme(), QStringLiteral("devtools"), EngineTimeout);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestDevTools test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_devtools.moc"
