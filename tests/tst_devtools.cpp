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
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void attachesToTheInspectedPage()
    {
        QWebEngineView page(host.get());
        DevTools panel(&page, host.get());
        QCOMPARE(panel.windowTitle(), QStringLiteral("Developer Tools"));
        QCOMPARE(panel.allowedAreas(), Qt::BottomDockWidgetArea | Qt::RightDockWidgetArea);
        QVERIFY(panel.devView());
        QCOMPARE(panel.widget(), panel.devView());
        QCOMPARE(panel.devView()->parentWidget(), &panel);
        QCOMPARE(panel.parentWidget(), host.get());
        QCOMPARE(panel.size(), QSize(800, 300));
        QCOMPARE(panel.inspectedView(), &page);
        QCOMPARE(page.page()->devToolsPage(), panel.devView()->page());
        QCOMPARE(panel.devView()->page()->inspectedPage(), page.page());

        // The engine really renders its tools into the panel.
        panel.showElements();
        QTRY_COMPARE_WITH_TIMEOUT(panel.devView()->url().scheme(), QStringLiteral("devtools"),
                                  EngineTimeout);
    }

    void nullViewLeavesPanelEmpty()
    {
        DevTools panel(nullptr, host.get());
        QCOMPARE(panel.windowTitle(), QStringLiteral("Developer Tools"));
        QCOMPARE(panel.widget(), panel.devView());
        QVERIFY(!panel.devView()->page()->inspectedPage());
        panel.showConsole();
        QVERIFY(panel.isVisible());
        QCoreApplication::processEvents();
        QVERIFY(panel.devView()->url().isEmpty());
    }

    // The panel may outlive the page it inspects without touching it again.
    void inspectedViewGoneFirst()
    {
        auto page = std::make_unique<QWebEngineView>(host.get());
        DevTools panel(page.get(), host.get());
        page.reset();
        QVERIFY(!panel.inspectedView());
        panel.setupInspector();
        panel.showNetwork();
        QVERIFY(panel.isVisible());
    }

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
        QWidget sibling(host.get()); // created later, so above the panel
        sibling.setGeometry(0, 0, 1000, 700);
        sibling.show();
        panel.hide();
        QVERIFY(!panel.isVisible());
        switch (which) {
        case 0: panel.showConsole(); break;
        case 1: panel.showNetwork(); break;
        default: panel.showElements(); break;
        }
        QVERIFY(panel.isVisible());
        QVERIFY(!panel.isHidden());
        // Raised: now the last (topmost) child of the host.
        const QObjectList children = host->children();
        QWidget *top = nullptr;
        for (QObject *child : children) {
            if (auto *w = qobject_cast<QWidget *>(child); w && w->isVisible())
                top = w;
        }
        QCOMPARE(top, &panel);
        QCOMPARE(page.page()->devToolsPage(), panel.devView()->page());
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
