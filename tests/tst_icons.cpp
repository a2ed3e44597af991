#include "IconFactory.h"

#include <QtTest>
#include <cstdlib>

// Premultiplied pixel matches `color` scaled by its own alpha, within rounding.
static bool isTintOf(QRgb px, const QColor &color)
{
    const int a = qAlpha(px);
    auto near = [a](int channel, int want) { return std::abs(channel - (want * a + 127) / 255) <= 1; };
    return near(qRed(px), color.red()) && near(qGreen(px), color.green()) && near(qBlue(px), color.blue());
}

class TestIcons : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // Points on the strokes and in gaps that must stay clear, so that a wrong
    // drawing is caught, not only a wrong colour.
    void eachIcon_data()
    {
        QTest::addColumn<QIcon>("icon");
        QTest::addColumn<QList<QPoint>>("painted");
        QTest::addColumn<QList<QPoint>>("clear");
        auto row = [](const char *name, const QIcon &icon, QList<QPoint> painted, QList<QPoint> clear) {
            QTest::newRow(name) << icon << painted << clear;
        };
        row("back", IconFactory::back(), {{40, 31}, {9, 31}, {20, 20}, {20, 43}}, {{45, 15}});
        row("forward", IconFactory::forward(), {{20, 31}, {54, 31}, {43, 20}}, {{15, 15}});
        row("reload", IconFactory::reload(), {{31, 8}, {8, 31}, {31, 55}, {55, 26}}, {{55, 40}, {31, 31}});
        row("bookmark", IconFactory::bookmark(), {{31, 20}, {31, 40}, {12, 50}}, {{31, 52}});
        row("history", IconFactory::history(), {{31, 8}, {55, 31}, {31, 22}, {40, 31}}, {{20, 42}, {42, 20}});
        row("download", IconFactory::download(), {{31, 20}, {19, 40}, {43, 40}, {20, 55}}, {{45, 20}});
        row("settings", IconFactory::settings(), {{41, 31}, {51, 31}}, {{31, 31}, {46, 31}});
        row("user", IconFactory::user(), {{31, 13}, {31, 31}, {9, 54}}, {{31, 23}});
        row("vpn", IconFactory::vpn(), {{13, 35}, {31, 50}, {31, 8}}, {{31, 35}, {31, 14}});
        row("robot", IconFactory::robot(), {{13, 31}, {21, 26}, {41, 26}, {31, 41}}, {{31, 26}, {31, 34}});
    }
    // Every pixel is the icon colour (disabled: grey at 150/255 of the alpha).
    void eachIcon()
    {
        QFETCH(QIcon, icon);
        QFETCH(QList<QPoint>, painted);
        QFETCH(QList<QPoint>, clear);
        auto image = [&icon](QIcon::Mode mode) {
            return icon.pixmap(QSize(64, 64), 1.0, mode).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        };
        const QImage normal = image(QIcon::Normal), disabled = image(QIcon::Disabled);
        for (const QPoint p : painted)
            QVERIFY(qAlpha(normal.pixel(p)) >= 200);
        for (const QPoint p : clear)
            QCOMPARE(qAlpha(normal.pixel(p)), 0);
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x) {
                const QRgb n = normal.pixel(x, y), d = disabled.pixel(x, y);
                const QByteArray at = " at " + QByteArray::number(x) + ',' + QByteArray::number(y);
                QVERIFY2(isTintOf(n, IconFactory::iconColor()), "foreign colour" + at);
                QVERIFY2(isTintOf(d, QColor(100, 100, 100)), "disabled not grey" + at);
                QVERIFY2(std::abs(qAlpha(d) - qAlpha(n) * 150 / 255) <= 1, "disabled alpha" + at);
            }
        }
    }
};

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
