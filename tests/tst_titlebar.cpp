#include "TitleBar.h"

#include <QtTest>
#include <QtWidgets>

class TestTitleBar : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // Dragging the bar with the left button moves its frameless window along;
    // another button, or hovering afterwards, leaves the window where it is.
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
        QWidget window(nullptr, Qt::FramelessWindowHint);
        auto *layout = new QVBoxLayout(&window);
        auto *bar = new TitleBar(&window);
        layout->addWidget(bar);
        layout->addStretch();
        window.setGeometry(100, 120, 600, 300);
        // The offscreen platform reports this once per shown window.
        QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint start = window.frameGeometry().topLeft();
        if (start != QPoint(100, 120))
            QSKIP("this platform does not place windows where asked");
        auto mouse = [&](QEvent::Type type, QPoint global, Qt::MouseButton pressed, Qt::MouseButtons held) {
            QMouseEvent event(type, bar->mapFromGlobal(QPointF(global)), window.mapFromGlobal(QPointF(global)),
                              QPointF(global), pressed, held, Qt::NoModifier);
            QCoreApplication::sendEvent(bar, &event);
        };
        const QPoint at = bar->mapToGlobal(QPoint(250, 20));
        const auto b = Qt::MouseButton(button);
        mouse(QEvent::MouseButtonPress, at, b, b);
        mouse(QEvent::MouseMove, at + delta / 2, Qt::NoButton, b);
        mouse(QEvent::MouseMove, at + delta, Qt::NoButton, b);
        mouse(QEvent::MouseButtonRelease, at + delta, b, Qt::NoButton);
        const QPoint end = moves ? start + delta : start;
        QTRY_COMPARE(window.frameGeometry().topLeft(), end);
        mouse(QEvent::MouseMove, at + delta + QPoint(50, 50), Qt::NoButton, Qt::NoButton);
        QCoreApplication::processEvents();
        QCOMPARE(window.frameGeometry().topLeft(), end);
    }
};

QTEST_MAIN(TestTitleBar)
#include "tst_titlebar.moc"
