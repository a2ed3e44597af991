#include "TitleBar.h"

#include <QMouseEvent>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

struct Host
{
    std::unique_ptr<QWidget> window;
    TitleBar *bar = nullptr;

    Host()
        : window(std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint))
    {
        auto *layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        bar = new TitleBar(window.get(), QStringLiteral(":/icons/orvex_icon.png"));
        layout->addWidget(bar);
        layout->addStretch();
        window->resize(600, 300);
        window->move(100, 120);
        // The offscreen platform reports this once per shown window.
        QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
        window->show();
    }
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

    void drag_data()
    {
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("moves");
        QTest::newRow("right and down") << QPoint(30, 40) << int(Qt::LeftButton) << true;
        QTest::newRow("left and up") << QPoint(-25, -70) << int(Qt::LeftButton) << true;
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

};

QTEST_MAIN(TestTitleBar)
#include "tst_titlebar.moc"
