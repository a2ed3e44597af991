#include "SiteShield.h"

#include "IconFactory.h"
#include "PublicSuffix.h"
#include "SiteProtection.h"

#include <QPainter>
#include <QPainterPath>

namespace {
QIcon shieldIcon(bool on)
{
    return IconFactory::createIcon([on](QPainter &p, const QRect &r) {
        QPainterPath shield;
        const qreal left = r.left() + 6, right = r.right() - 6, top = r.top() + 2;
        const qreal mid = (left + right) / 2;
        shield.moveTo(mid, top);
        shield.lineTo(right, top + 8);
        shield.cubicTo(right, r.center().y() + 8, mid + 8, r.bottom() - 6, mid, r.bottom());
        shield.cubicTo(mid - 8, r.bottom() - 6, left, r.center().y() + 8, left, top + 8);
        shield.closeSubpath();
        if (on) {
            QColor fill = p.pen().color();
            fill.setAlpha(90);
            p.setBrush(fill);
        }
        p.drawPath(shield);
        if (!on)
            p.drawLine(QPointF(r.left() + 2, r.bottom() - 2), QPointF(r.right() - 2, r.top() + 2));
    }, on ? IconFactory::iconColor() : QColor(QStringLiteral("#ff6b6b")));
}
}

SiteShield::SiteShield(SiteProtection *sites, QWidget *parent)
    : QPushButton(parent)
    , m_sites(sites)
{
    setObjectName(QStringLiteral("siteShield"));
    setIconSize(QSize(20, 20));
    setFixedSize(36, 36);
    connect(this, &QPushButton::clicked, this, &SiteShield::toggleProtection);
    refresh();
}

void SiteShield::setUrl(const QUrl &url)
{
    const QString scheme = url.scheme();
    m_site = scheme == QLatin1String("http") || scheme == QLatin1String("https") ? PublicSuffix::site(url) : QString();
    refresh();
}

bool SiteShield::isProtectionOn() const
{
    return !m_sites || m_site.isEmpty() || m_sites->isProtected(m_site);
}

QString SiteShield::toolTipFor(const QString &site, bool on)
{
    if (site.isEmpty())
        return tr("Protection on this site: this page belongs to no site");
    return on ? tr("Protection on this site: on for %1 (click to turn it off)").arg(site)
              : tr("Protection on this site: off for %1 (click to turn it on)").arg(site);
}

void SiteShield::refresh()
{
    const bool on = isProtectionOn();
    setIcon(shieldIcon(on));
    setToolTip(toolTipFor(m_site, on));
    setEnabled(m_sites && !m_site.isEmpty());
}

void SiteShield::toggleProtection()
{
    if (!m_sites || m_site.isEmpty())
        return;
    m_sites->setProtected(m_site, !m_sites->isProtected(m_site));
    refresh();
}
