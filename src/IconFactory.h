#pragma once

#include <QColor>
#include <QIcon>
#include <QRect>

#include <functional>

class QPainter;

// Toolbar icons painted at run time: a few round 4-px strokes on a transparent
// 64 x 64 square, plus a translucent grey variant for disabled buttons.
class IconFactory
{
public:
    // Receives the prepared painter and the 48 x 48 drawing rectangle.
    using Painter = std::function<void(QPainter &, const QRect &)>;

    static constexpr int kSize = 64;
    static const QColor &iconColor();     // #00e5ff
    static const QColor &disabledColor(); // (100, 100, 100, 150)

    static QIcon createIcon(const Painter &draw, const QColor &color);

    static QIcon back();
    static QIcon forward();
    static QIcon reload();
    static QIcon bookmark();
    static QIcon history();
    static QIcon download();
    static QIcon settings();
    static QIcon user();
    static QIcon vpn();
    static QIcon robot();

    IconFactory() = delete;
};
