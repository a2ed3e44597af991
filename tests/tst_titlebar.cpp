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

    explicit Host(const QString &iconPath = QStringLiteral(":/icons/orvex_icon.png"))
        : window(std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint))
    {
        auto *layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        bar = new TitleBar(window.get(), iconPath);
        layout->addWidget(bar);
        layout->addStretch();
        window->resize(600, 300);
        window->move(100, 120);
    }
    QPushButton *button(const QString &caption) const
    {
        for (QPushButton *b : bar->findChildren<QPushButton *>()) {
            if (b->text() == caption)
                return b;
        }
        return nullptr;
    }
    QLabel *iconLabel() const { return bar->findChild<QLabel *>(QStringLiteral("titleIcon")); }
};

static void sendMouse(QWidget *target, QEvent::Type type, QPoint global, Qt::MouseButton button,
                      Qt::MouseButtons buttons)
{
    const QPointF local = target->mapFromGlobal(QPointF(global));
    QMouseEvent event(type, local, target->window()->mapFromGlobal(QPointF(global)), QPointF(global),
                      button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

// The offscreen platform reports this once per shown window.
static void show(Host &host)
{
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    host.window->show();
}

static QColor pixelAt(QWidget *w, QPoint p)
{
    return w->grab().toImage().pixelColor(p);
}

class TestTitleBar : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void layoutAndCaptions()
    {
        Host host;
        QCOMPARE(host.bar->height(), 40);
        QVERIFY(host.bar->findChild<QLabel *>() != nullptr);
        QStringList captions;
        for (QPushButton *b : host.bar->findChildren<QPushButton *>())
            captions << b->text();
        QCOMPARE(captions, (QStringList{QStringLiteral("\u2014"), QStringLiteral("\u25A2"),
                                        QStringLiteral("\u2715")}));
        QCOMPARE(host.button(QStringLiteral("\u2715"))->objectName(), QStringLiteral("closeBtn"));
        QStringList texts;
        for (QLabel *l : host.bar->findChildren<QLabel *>())
            texts << l->text();
        QVERIFY(texts.contains(QStringLiteral("ORVEX BROWSER")));

        // The icon is shown whole: 24 x 24 of pixmap in 24 x 24 of room.
        QLabel *icon = host.iconLabel();
        QVERIFY(icon);
        QCOMPARE(icon->size(), QSize(24, 24));
        QCOMPARE(icon->contentsRect().size(), QSize(24, 24));
        QCOMPARE(icon->pixmap().size(), QSize(24, 24));
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
        show(host);
        QVERIFY(QTest::qWaitForWindowExposed(host.window.get()));
        const QPoint start = host.window->frameGeometry().topLeft();
        if (start != QPoint(100, 120))
            QSKIP("this platform does not place windows where asked");

        const QPoint grab = host.bar->mapToGlobal(QPoint(250, 20));
        const auto b = Qt::MouseButton(button);
        sendMouse(host.bar, QEvent::MouseButtonPress, grab, b, b);
        sendMouse(host.bar, QEvent::MouseMove, grab + delta / 2, Qt::NoButton, b);
        sendMouse(host.bar, QEvent::MouseMove, grab + delta, Qt::NoButton, b);
        sendMouse(host.bar, QEvent::MouseButtonRelease, grab + delta, b, Qt::NoButton);
        QTRY_COMPARE(host.window->frameGeometry().topLeft(), moves ? start + delta : start);

        // Hovering afterwards, no button held, leaves the window alone.
        sendMouse(host.bar, QEvent::MouseMove, grab + delta + QPoint(50, 50), Qt::NoButton, Qt::NoButton);
        QCoreApplication::processEvents();
        QCOMPARE(host.window->frameGeometry().topLeft(), moves ? start + delta : start);
    }

    void doubleClickTogglesMaximised()
    {
        Host host;
        show(host);
        QVERIFY(QTest::qWaitForWindowExposed(host.window.get()));
        const QPoint at = host.bar->mapToGlobal(QPoint(250, 20));
        sendMouse(host.bar, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
        QTRY_VERIFY(host.window->isMaximized());

        // A maximised window is not dragged off its place.
        const QPoint maxPos = host.window->pos();
        sendMouse(host.bar, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        sendMouse(host.bar, QEvent::MouseMove, at + QPoint(40, 40), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(host.window->pos(), maxPos);
        QVERIFY(host.window->isMaximized());

        sendMouse(host.bar, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
        QTRY_VERIFY(!host.window->isMaximized());
    }

    void buttons()
    {
        Host host;
        show(host);
        QVERIFY(QTest::qWaitForWindowExposed(host.window.get()));
        host.button(QStringLiteral("\u25A2"))->click();
        QTRY_VERIFY(host.window->isMaximized());
        host.button(QStringLiteral("\u25A2"))->click();
        QTRY_VERIFY(!host.window->isMaximized());
        host.button(QStringLiteral("\u2014"))->click();
        QTRY_VERIFY(host.window->isMinimized());
        host.window->showNormal();
        QTRY_VERIFY(host.window->isVisible());
        host.button(QStringLiteral("\u2715"))->click();
        QTRY_VERIFY(!host.window->isVisible());
    }

    void missingIconLeavesEmptyArea()
    {
        Host host(QStringLiteral(":/no/such/icon.png"));
        QLabel *icon = host.iconLabel();
        QVERIFY(icon);
        QVERIFY(icon->pixmap().isNull());
        QCOMPARE(icon->size(), QSize(24, 24));
        show(host);
        QVERIFY(QTest::qWaitForWindowExposed(host.window.get()));
        const QPoint start = host.window->pos();
        const QPoint grab = host.bar->mapToGlobal(QPoint(250, 20));
        sendMouse(host.bar, QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
        sendMouse(host.bar, QEvent::MouseMove, grab + QPoint(7, 9), Qt::NoButton, Qt::LeftButton);
        QTRY_COMPARE(host.window->pos(), start + QPoint(7, 9));
        sendMouse(host.bar, QEvent::MouseButtonDblClick, grab, Qt::LeftButton, Qt::LeftButton);
        QTRY_VERIFY(host.window->isMaximized());
    }

    void colours()
    {
        Host host;
        show(host);
        QVERIFY(QTest::qWaitForWindowExposed(host.window.get()));
        TitleBar *bar = host.bar;
        const int blankX = bar->width() / 2 + 50; // inside the stretch
        QCOMPARE(pixelAt(bar, {blankX, 10}), QColor(0x0f, 0x0f, 0x12));
        QCOMPARE(pixelAt(bar, {blankX, 39}), QColor(0x33, 0x33, 0x33));

        QPushButton *close = host.button(QStringLiteral("\u2715"));
        QPushButton *maximise = host.button(QStringLiteral("\u25A2"));
        const QPoint closeCorner = close->geometry().topLeft() + QPoint(2, 2);
        const QPoint maxCorner = maximise->geometry().topLeft() + QPoint(2, 2);
        QCOMPARE(pixelAt(bar, closeCorner), QColor(0x0f, 0x0f, 0x12));

        QTest::mouseMove(close);
        QTRY_COMPARE(pixelAt(bar, closeCorner), QColor(0xe8, 0x11, 0x23));
        QTest::mouseMove(maximise);
        QTRY_COMPARE(pixelAt(bar, maxCorner), QColor(0x22, 0x22, 0x22));
        QCOMPARE(pixelAt(bar, closeCorner), QColor(0x0f, 0x0f, 0x12));
    }
};

QTEST_MAIN(TestTitleBar)
#include "tst_titlebar.moc"
