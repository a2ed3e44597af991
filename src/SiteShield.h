#pragma once

#include <QPushButton>
#include <QUrl>

class SiteProtection;

// The toolbar's "Protection on this site" switch for the current tab's
// site: a shield, filled while protection is on, struck through while the
// user has it off. Clicking it turns protection off (or on again) for the
// site; the window reloads the site's tabs when the switch changes.
class SiteShield : public QPushButton
{
    Q_OBJECT
public:
    explicit SiteShield(SiteProtection *sites, QWidget *parent = nullptr);

    // The page the current tab shows.
    void setUrl(const QUrl &url);
    QString site() const { return m_site; }
    bool isProtectionOn() const;

    // The tooltip for a site and a state ("" site: a page without one).
    static QString toolTipFor(const QString &site, bool on);

public Q_SLOTS:
    void toggleProtection();
    void refresh();

private:
    SiteProtection *m_sites = nullptr;
    QString m_site;
};
