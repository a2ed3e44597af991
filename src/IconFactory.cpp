#include "IconFactory.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygon>

const QColor &IconFactory::iconColor()
{
    static const QColor color(QStringLiteral("#00e5ff"));
    return color;
}

const QColor &IconFactory::disabledColor()
{
    static const QColor color(100, 100, 100, 150);
    return color;
}

QIcon IconFactory::createIcon(const Painter &draw, const QColor &color)
{
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    {
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QBrush(color), 4.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        if (draw)
            draw(p, QRect(8, 8, 48, 48));
    }
    QIcon icon(pixmap);

    // SourceIn keeps each pixel's coverage, so the outline survives in grey.
    QPixmap disabled = pixmap;
    {
        QPainter p(&disabled);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(disabled.rect(), disabledColor());
    }
    icon.addPixmap(disabled, QIcon::Disabled, QIcon::Off);
    return icon;
}

QIcon IconFactory::back()
{
    return createIcon([](QPainter &p, const QRect &r) {
        const int cy = r.center().y();
        QPainterPath path;
        path.moveTo(r.right(), cy);
        path.lineTo(r.left(), cy);
        path.moveTo(r.left() + r.width() / 2, r.top());
        path.lineTo(r.left(), cy);
        path.lineTo(r.left() + r.width() / 2, r.bottom());
        p.drawPath(path);
    }, iconColor());
}

QIcon IconFactory::forward()
{
    return createIcon([](QPainter &p, const QRect &r) {
        const int cy = r.center().y();
        QPainterPath path;
        path.moveTo(r.left(), cy);
        path.lineTo(r.right(), cy);
        path.moveTo(r.right() - r.width() / 2, r.top());
        path.lineTo(r.right(), cy);
        path.lineTo(r.right() - r.width() / 2, r.bottom());
        p.drawPath(path);
    }, iconColor());
}

QIcon IconFactory::reload()
{
    return createIcon([](QPainter &p, const QRect &r) {
        p.drawArc(r, 45 * 16, 270 * 16);
        const int y = r.top() + r.height() / 4;
        const QPolygon head({QPoint(r.right(), y), QPoint(r.right() - 5, y + 10),
                             QPoint(r.right() + 5, y + 10)});
        p.setBrush(p.pen().brush());
        p.drawPolygon(head);
    }, iconColor());
}

QIcon IconFactory::bookmark()
{
    return createIcon([](QPainter &p, const QRect &r) {
        QPainterPath path;
        path.moveTo(r.left(), r.top());
        path.lineTo(r.right(), r.top());
        path.lineTo(r.right(), r.bottom());
        path.lineTo(r.center().x(), r.bottom() - 10);
        path.lineTo(r.left(), r.bottom());
        path.closeSubpath();
        p.fillPath(path, p.pen().brush());
    }, iconColor());
}

QIcon IconFactory::history()
{
    return createIcon([](QPainter &p, const QRect &r) {
        const QPoint c = r.center();
        p.drawEllipse(r);
        p.drawLine(c, QPoint(c.x(), r.top() + 10));
        p.drawLine(c, QPoint(r.right() - 10, c.y()));
    }, iconColor());
}

QIcon IconFactory::download()
{
    return createIcon([](QPainter &p, const QRect &r) {
        const int cx = r.center().x();
        const QPoint tip(cx, r.bottom() - 10);
        p.drawLine(QPoint(cx, r.top()), tip);
        p.drawLine(QPoint(r.left(), r.bottom() - 20), tip);
        p.drawLine(QPoint(r.right(), r.bottom() - 20), tip);
        p.drawLine(QPoint(r.left(), r.bottom()), QPoint(r.right(), r.bottom()));
    }, iconColor());
}

QIcon IconFactory::settings()
{
    return createIcon([](QPainter &p, const QRect &r) {
        p.drawEllipse(r.center(), 10, 10);
        p.drawEllipse(r.center(), 20, 20);
    }, iconColor());
}

QIcon IconFactory::user()
{
    return createIcon([](QPainter &p, const QRect &r) {
        p.drawEllipse(QPoint(r.center().x(), r.top() + 15), 10, 10);
        p.drawArc(QRect(r.left(), r.center().y(), r.width(), r.height()), 0, 180 * 16);
    }, iconColor());
}

QIcon IconFactory::vpn()
{
    return createIcon([](QPainter &p, const QRect &r) {
        p.drawRoundedRect(r.adjusted(5, 10, -5, -5), 5, 5, Qt::AbsoluteSize);
        p.drawArc(QRect(r.left() + 10, r.top(), r.width() - 20, 20), 0, 180 * 16);
    }, iconColor());
}

QIcon IconFactory::robot()
{
    return createIcon([](QPainter &p, const QRect &r) {
        const QPoint c = r.center();
        p.drawRect(r.adjusted(5, 5, -5, -5));
        p.drawPoint(c.x() - 10, c.y() - 5);
        p.drawPoint(c.x() + 10, c.y() - 5);
        p.drawLine(c.x() - 5, c.y() + 10, c.x() + 5, c.y() + 10);
    }, iconColor());
}
