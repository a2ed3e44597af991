#include "IconFactory.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QtTest>

#include <cstdlib>

using IconFunction = QIcon (*)();

static const QList<QPair<const char *, IconFunction>> &allIcons()
{
    static const QList<QPair<const char *, IconFunction>> icons = {
        {"back", &IconFactory::back},         {"forward", &IconFactory::forward},
        {"reload", &IconFactory::reload},     {"bookmark", &IconFactory::bookmark},
        {"history", &IconFactory::history},   {"download", &IconFactory::download},
        {"settings", &IconFactory::settings}, {"user", &IconFactory::user},
        {"vpn", &IconFactory::vpn},           {"robot", &IconFactory::robot},
    };
    return icons;
}

static IconFunction iconByName(const QByteArray &name)
{
    for (const auto &entry : allIcons()) {
        if (name == entry.first)
            return entry.second;
    }
    return nullptr;
}

static QImage premultiplied(const QIcon &icon, QIcon::Mode mode, int size = IconFactory::kSize)
{
    return icon.pixmap(QSize(size, size), 1.0, mode, QIcon::Off)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Premultiplied pixel matches `color` scaled by its own alpha, within rounding.
static bool isTintOf(QRgb px, const QColor &color)
{
    const int a = qAlpha(px);
    auto near = [a](int channel, int want) { return std::abs(channel - (want * a + 127) / 255) <= 1; };
    return near(qRed(px), color.red()) && near(qGreen(px), color.green())
        && near(qBlue(px), color.blue());
}

class TestIcons : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void eachIcon_data()
    {
        QTest::addColumn<QByteArray>("name");
        for (const auto &entry : allIcons())
            QTest::newRow(entry.first) << QByteArray(entry.first);
    }
    void eachIcon()
    {
        QFETCH(QByteArray, name);
        const QIcon icon = iconByName(name)();
        QVERIFY(!icon.isNull());

        const QImage normal = premultiplied(icon, QIcon::Normal);
        QCOMPARE(normal.size(), QSize(64, 64));
        for (const QPoint corner : {QPoint(0, 0), QPoint(63, 0), QPoint(0, 63), QPoint(63, 63)})
            QCOMPARE(qAlpha(normal.pixel(corner)), 0);

        const QImage disabled = premultiplied(icon, QIcon::Disabled);
        QCOMPARE(disabled.size(), QSize(64, 64));
        const QColor grey(100, 100, 100);
        int opaque = 0;
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x) {
                const QRgb n = normal.pixel(x, y);
                const QRgb d = disabled.pixel(x, y);
                if (!isTintOf(n, IconFactory::iconColor()))
                    QFAIL(qPrintable(QStringLiteral("foreign colour at %1,%2: %3")
                                         .arg(x).arg(y).arg(n, 8, 16, QLatin1Char('0'))));
                if (!isTintOf(d, grey))
                    QFAIL(qPrintable(QStringLiteral("disabled pixel not grey at %1,%2").arg(x).arg(y)));
                // Same shape, translucent: alpha scaled by 150/255.
                if (std::abs(qAlpha(d) - qAlpha(n) * 150 / 255) > 1)
                    QFAIL(qPrintable(QStringLiteral("disabled alpha off at %1,%2").arg(x).arg(y)));
                if (qAlpha(n) == 255)
                    ++opaque;
            }
        }
        QVERIFY2(opaque > 50, "icon is nearly empty");
        // Nothing is drawn into the outer margin except the reload arrowhead,
        // which pokes 5 px beyond the drawing rectangle.
        if (name != "reload") {
            for (int i = 0; i < 64; ++i) {
                QCOMPARE(qAlpha(normal.pixel(i, 2)), 0);
                QCOMPARE(qAlpha(normal.pixel(i, 61)), 0);
                QCOMPARE(qAlpha(normal.pixel(2, i)), 0);
                QCOMPARE(qAlpha(normal.pixel(61, i)), 0);
            }
        }
    }

    // Sample points on the strokes (and in gaps that must stay clear) so that a
    // wrong drawing is caught, not only a wrong colour.
    void drawing_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QPoint>("pos");
        QTest::addColumn<bool>("painted");
        auto row = [](const char *icon, const char *what, QPoint p, bool painted) {
            QTest::addRow("%s: %s", icon, what) << QByteArray(icon) << p << painted;
        };
        row("back", "shaft", {40, 31}, true);
        row("back", "tip", {9, 31}, true);
        row("back", "upper head", {20, 20}, true);
        row("back", "lower head", {20, 43}, true);
        row("back", "clear above shaft", {45, 15}, false);
        row("forward", "shaft", {20, 31}, true);
        row("forward", "tip", {54, 31}, true);
        row("forward", "upper head", {43, 20}, true);
        row("forward", "clear left", {15, 15}, false);
        row("reload", "arc top", {31, 8}, true);
        row("reload", "arc left", {8, 31}, true);
        row("reload", "arc bottom", {31, 55}, true);
        row("reload", "arrowhead", {55, 26}, true);
        row("reload", "gap on the right", {55, 40}, false);
        row("reload", "hollow centre", {31, 31}, false);
        row("bookmark", "filled body", {31, 20}, true);
        row("bookmark", "filled above notch", {31, 40}, true);
        row("bookmark", "filled lower left", {12, 50}, true);
        row("bookmark", "notch", {31, 52}, false);
        row("history", "face top", {31, 8}, true);
        row("history", "face right", {55, 31}, true);
        row("history", "minute hand", {31, 22}, true);
        row("history", "hour hand", {40, 31}, true);
        row("history", "clear lower left", {20, 42}, false);
        row("history", "clear upper right", {42, 20}, false);
        row("download", "shaft", {31, 20}, true);
        row("download", "left wing", {19, 40}, true);
        row("download", "right wing", {43, 40}, true);
        row("download", "base", {20, 55}, true);
        row("download", "clear upper right", {45, 20}, false);
        row("settings", "inner ring", {41, 31}, true);
        row("settings", "outer ring", {51, 31}, true);
        row("settings", "hub", {31, 31}, false);
        row("settings", "between rings", {46, 31}, false);
        row("user", "head top", {31, 13}, true);
        row("user", "shoulder top", {31, 31}, true);
        row("user", "shoulder end", {9, 54}, true);
        row("user", "inside head", {31, 23}, false);
        row("vpn", "body left", {13, 35}, true);
        row("vpn", "body bottom", {31, 50}, true);
        row("vpn", "shackle top", {31, 8}, true);
        row("vpn", "inside body", {31, 35}, false);
        row("vpn", "inside shackle", {31, 14}, false);
        row("robot", "head left", {13, 31}, true);
        row("robot", "left eye", {21, 26}, true);
        row("robot", "right eye", {41, 26}, true);
        row("robot", "mouth", {31, 41}, true);
        row("robot", "between eyes", {31, 26}, false);
        row("robot", "above mouth", {31, 34}, false);
    }
    void drawing()
    {
        QFETCH(QByteArray, name);
        QFETCH(QPoint, pos);
        QFETCH(bool, painted);
        const QImage img = premultiplied(iconByName(name)(), QIcon::Normal);
        const int alpha = qAlpha(img.pixel(pos));
        if (painted)
            QVERIFY2(alpha >= 200, qPrintable(QStringLiteral("alpha %1").arg(alpha)));
        else
            QCOMPARE(alpha, 0);
    }

    // A disabled toolbar button asks for a smaller pixmap: still grey.
    void disabledScaledStaysGrey()
    {
        const QImage img = premultiplied(IconFactory::back(), QIcon::Disabled, 24);
        QCOMPARE(img.size(), QSize(24, 24));
        int seen = 0;
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 24; ++x) {
                const QRgb px = img.pixel(x, y);
                if (qAlpha(px) == 0)
                    continue;
                ++seen;
                QVERIFY(isTintOf(px, QColor(100, 100, 100)));
                QVERIFY(qAlpha(px) <= 151);
            }
        }
        QVERIFY(seen > 10);
    }

    void createIconUsesGivenColourAndRectangle()
    {
        QRect seen;
        const QIcon icon = IconFactory::createIcon([&seen](QPainter &p, const QRect &r) {
            seen = r;
            QCOMPARE(p.pen().widthF(), 4.0);
            QCOMPARE(p.pen().capStyle(), Qt::RoundCap);
            QCOMPARE(p.pen().joinStyle(), Qt::RoundJoin);
            QVERIFY(p.testRenderHint(QPainter::Antialiasing));
            QCOMPARE(p.brush().style(), Qt::NoBrush);
            p.drawLine(r.topLeft(), r.bottomRight());
        }, Qt::red);
        QCOMPARE(seen, QRect(8, 8, 48, 48));
        const QImage img = premultiplied(icon, QIcon::Normal);
        QCOMPARE(img.pixel(31, 31), qRgba(255, 0, 0, 255));
        QVERIFY(isTintOf(premultiplied(icon, QIcon::Disabled).pixel(31, 31), QColor(100, 100, 100)));
    }
};

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
