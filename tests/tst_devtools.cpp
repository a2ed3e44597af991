#include "DevTools.h"

#include <QApplication>
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

    // The panel outlives its page and then touches no page.
    void pageGoneFirst()
    {
        auto page = std::make_unique<QWebEngineView>(host.get());
        DevTools panel(page.get(), host.get());
        page.reset();
        QVERIFY(!panel.inspectedView());
        panel.setupInspector();
        panel.showConsole();
        QVERIFY(panel.isVisible());
        QCoreApplication::processEvents();
        QVERIFY(!panel.devView()->page()->inspectedPage());
    }

    // Every show operation reuses the one tools view, raised above siblings.
    void toolsCreatedOnce()
    {
        QWebEngineView page(host.get());
        DevTools panel(&page, host.get());
        QWidget sibling(host.get());
        sibling.show();
        QWebEngineView *const tools = panel.devView();
        for (void (DevTools::*show)() : {&DevTools::showConsole, &DevTools::showNetwork, &DevTools::showElements}) {
            panel.hide();
            (panel.*show)();
            QVERIFY(panel.isVisible());
            QCOMPARE(panel.devView(), tools);
            QCOMPARE(page.page()->devToolsPage(), tools->page());
            QCOMPARE(host->findChildren<QWidget *>(Qt::FindDirectChildrenOnly).last(), &panel);
        }
        QTRY_COMPARE_WITH_TIMEOUT(tools->url().scheme(), QStringLiteral("devtools"), EngineTimeout);
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
