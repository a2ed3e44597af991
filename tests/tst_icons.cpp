#include "IconFactory.h"

#include <QImage>
#include <QPixmap>
#include <QtTest>

#include <cstdlib>

static QImage premultiplied(const QIcon &icon, QIcon::Mode mode)
{
    return icon.pixmap(QSize(IconFactory::kSize, IconFactory::kSize), 1.0, mode, QIcon::Off)
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

static const QColor disabledGrey(100, 100, 100);

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
    void eachIcon()
    {
        QFETCH(QIcon, icon);
        QFETCH(QList<QPoint>, painted);
        QFETCH(QList<QPoint>, clear);
        const QImage normal = premultiplied(icon, QIcon::Normal);
        const QImage disabled = premultiplied(icon, QIcon::Disabled);
        QCOMPARE(disabled.size(), QSize(64, 64));
        for (const QPoint p : painted)
            QVERIFY(qAlpha(normal.pixel(p)) >= 200);
        for (const QPoint p : clear)
            QCOMPARE(qAlpha(normal.pixel(p)), 0);

        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x) {
                const QRgb n = normal.pixel(x, y);
                const QRgb d = disabled.pixel(x, y);
                const QString at = QStringLiteral(" at %1,%2").arg(x).arg(y);
                QVERIFY2(isTintOf(n, IconFactory::iconColor()), qPrintable(QStringLiteral("foreign colour") + at));
                QVERIFY2(isTintOf(d, disabledGrey), qPrintable(QStringLiteral("disabled not grey") + at));
                // Same shape, translucent: alpha scaled by 150/255.
                QVERIFY2(std::abs(qAlpha(d) - qAlpha(n) * 150 / 255) <= 1, qPrintable(QStringLiteral("disabled alpha") + at));
            }
        }

    }

};

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
