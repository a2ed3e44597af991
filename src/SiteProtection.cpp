#include "SiteProtection.h"

#include "ActiveFilters.h"
#include "PublicSuffix.h"
#include "StoreFile.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUrl>

namespace {
// A hand-edited file with more entries than this is not ours to trust whole.
constexpr int MaxSites = 10000;
}

SiteProtection::SiteProtection(const QString &dataFolder, QObject *parent)
    : QObject(parent)
    , m_folder(dataFolder.isEmpty()
                   ? QStandardPaths::writableLocation(QStandardPaths::ConfigLocation) + QStringLiteral("/orvexbrowser")
                   : dataFolder)
{
    const QJsonObject state = StoreFile::readJson(filePath(), StoreFile::JsonType::Object).object();
    for (const QJsonValue &value : state.value(QStringLiteral("unprotected")).toArray()) {
        const QString site = normalized(value.toString());
        if (!site.isEmpty() && m_sites.size() < MaxSites)
            m_sites.insert(site);
    }
    ActiveFilters::setUnprotectedSites(m_sites);
}

QString SiteProtection::filePath() const
{
    return m_folder + QStringLiteral("/siteprotection.json");
}

QStringList SiteProtection::unprotectedSites() const
{
    QStringList sites(m_sites.cbegin(), m_sites.cend());
    sites.sort();
    return sites;
}

bool SiteProtection::isProtected(const QUrl &url) const
{
    return isProtected(PublicSuffix::site(url));
}

QString SiteProtection::normalized(const QString &site)
{
    const QString text = site.trimmed();
    if (text.isEmpty() || text.contains(QLatin1Char('/')) || text.contains(QLatin1Char(' ')))
        return {};
    const QUrl url(QStringLiteral("http://") + text);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    return PublicSuffix::site(url);
}

bool SiteProtection::setProtected(const QString &site, bool on)
{
    const QString key = normalized(site);
    if (key.isEmpty())
        return false;
    if (m_sites.contains(key) != on)
        return true;
    QSet<QString> sites = m_sites;
    if (on)
        sites.remove(key);
    else
        sites.insert(key);
    if (!save(sites))
        return false;
    m_sites = sites;
    ActiveFilters::setUnprotectedSites(m_sites);
    Q_EMIT changed(key, on);
    return true;
}

bool SiteProtection::setProtected(const QUrl &url, bool on)
{
    return setProtected(PublicSuffix::site(url), on);
}

bool SiteProtection::save(const QSet<QString> &sites) const
{
    QStringList sorted(sites.cbegin(), sites.cend());
    sorted.sort();
    QJsonObject state;
    state.insert(QStringLiteral("unprotected"), QJsonArray::fromStringList(sorted));
    return StoreFile::writeJson(filePath(), QJsonDocument(state));
}
