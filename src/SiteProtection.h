#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class QUrl;

// The sites where the user switched protection off ("Protection on this
// site"): no request of theirs is blocked and no element hidden; the DNT and
// Sec-GPC headers and the fingerprint protection stay. A site is a
// registrable domain (PublicSuffix::site), so the switch covers its
// subdomains. Kept in siteprotection.json in the data folder, written
// atomically on every change, and published to ActiveFilters for the
// interceptors and pages.
class SiteProtection : public QObject
{
    Q_OBJECT
public:
    // dataFolder: empty for the browser's data folder.
    explicit SiteProtection(const QString &dataFolder = QString(), QObject *parent = nullptr);

    QString filePath() const;
    // Sorted.
    QStringList unprotectedSites() const;
    bool isProtected(const QString &site) const { return !m_sites.contains(site); }
    bool isProtected(const QUrl &url) const;
    // False when the address has no site (about:, data:, file:) or the
    // change could not be stored (the switch then stays as it was).
    bool setProtected(const QString &site, bool on);
    bool setProtected(const QUrl &url, bool on);

    // A site as stored: the registrable domain of the text, or empty when the
    // text names no host ("Example.COM." -> "example.com").
    static QString normalized(const QString &site);

Q_SIGNALS:
    void changed(const QString &site, bool on);

private:
    bool save(const QSet<QString> &sites) const;

    QString m_folder;
    QSet<QString> m_sites;
};
