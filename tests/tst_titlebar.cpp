#include "TitleBar.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

// A frameless window with the bar on top, as the bar is meant to be used.
struct Host
{
    std::unique_ptr<QWidget> window;
    TitleBar *bar = nullptr;

    explicit Host(const QString &iconPath = QStringLiteral(":/icons/orvex_icon.png"), bool show = true)
        : window(std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint))
    {
        auto *layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        bar = new TitleBar(window.get(), iconPath);
        layout->addWidget(bar);
        layout->addStretch();
        window->resize(600, 300);
        window->move(100, 120);
        if (show) {
            // The offscreen platform reports this once per shown window.
            QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
            window->show();
        }
    }
    enum Button { Minimise, Maximise, Close }; // in the bar's order
    void click(Button b) const { bar->findChildren<QPushButton *>().at(b)->click(); }
    QPoint grabPoint() const { return bar->mapToGlobal(QPoint(250, 20)); }
    void mouse(QEvent::Type type, QPoint global, Qt::MouseButton button, Qt::MouseButtons buttons) const
    {
        QMouseEvent event(type, bar->mapFromGlobal(QPointF(global)), window->mapFromGlobal(QPointF(global)),
                          QPointF(global), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(bar, &event);
    }
    QPoint pos() const { return window->frameGeometry().topLeft(); }
};

class TestTitleBar : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // The icon is shown whole: 24 x 24 of pixmap in 24 x 24 of room.
    void icon_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("pixmap");
        QTest::newRow("shipped") << QStringLiteral(":/icons/orvex_icon.png") << QSize(24, 24);
        QTest::newRow("missing leaves an empty area") << QStringLiteral(":/no/such/icon.png") << QSize(0, 0);
    }
    void icon()
    {
        QFETCH(QString, path);
        Host host(path, false);
        QLabel *icon = host.bar->findChild<QLabel *>(QStringLiteral("titleIcon"));
        QCOMPARE(icon->contentsRect().size(), QSize(24, 24));
        QTEST(icon->pixmap().size(), "pixmap");
    }

    void drag_data()
    {
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("moves");
        QTest::newRow("right and down") << QPoint(30, 40) << int(Qt::LeftButton) << true;
        QTest::newRow("left and up") << QPoint(-25, -70) << int(Qt::LeftButton) << true;
        QTest::newRow("far") << QPoint(400, 5) << int(Qt::LeftButton) << true;
        QTest::newRow("no motion") << QPoint(0, 0) << int(Qt::LeftButton) << true;
        QTest::newRow("right button does not drag") << QPoint(30, 40) << int(Qt::RightButton) << false;
    }
    void drag()
    {
        QFETCH(QPoint, delta);
        QFETCH(int, button);
        QFETCH(bool, moves);
        Host host;
        QVERIFY(QTest::qWaitForWindowExposed(host.window.get()));
        const QPoint start = host.pos();
        if (start != QPoint(100, 120))
            QSKIP("this platform does not place windows where asked");
        const QPoint at = host.grabPoint();
        const auto b = Qt::MouseButton(button);
        host.mouse(QEvent::MouseButtonPress, at, b, b);
        host.mouse(QEvent::MouseMove, at + delta / 2, Qt::NoButton, b);
        host.mouse(QEvent::MouseMove, at + delta, Qt::NoButton, b);
        host.mouse(QEvent::MouseButtonRelease, at + delta, b, Qt::NoButton);
        QTRY_COMPARE(host.pos(), moves ? start + delta : start);
        // Hovering afterwards, no button held, leaves the window alone.
        host.mouse(QEvent::MouseMove, at + delta + QPoint(50, 50), Qt::NoButton, Qt::NoButton);
        QCoreApplication::processEvents();
        QCOMPARE(host.pos(), moves ? start + delta : start);
    }

    void doubleClickTogglesMaximised()
    {
        Host host;
        QVERIFY(QTest::qWaitForWindowExposed(host.window.get()));
        const QPoint at = host.grabPoint();
        host.mouse(QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
        QTRY_VERIFY(host.window->isMaximized());
        // A maximised window is not dragged off its place.
        const QPoint maxPos = host.window->pos();
        host.mouse(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        host.mouse(QEvent::MouseMove, at + QPoint(40, 40), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(host.window->pos(), maxPos);
        host.mouse(QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
        QTRY_VERIFY(!host.window->isMaximized());
    }

    void buttons()
    {
        Host host;
        QVERIFY(QTest::qWaitForWindowExposed(host.window.get()));
        host.click(Host::Maximise);
        QTRY_VERIFY(host.window->isMaximized());
        host.click(Host::Maximise);
        QTRY_VERIFY(!host.window->isMaximized());
        host.click(Host::Minimise);
        QTRY_VERIFY(host.window->isMinimized());
        host.window->showNormal();
        host.click(Host::Close);
        QTRY_VERIFY(!host.window->isVisible());
    }
};

QTEST_MAIN(TestTitleBar)
#include "tst_titlebar.moc"
