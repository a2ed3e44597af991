#include "SearchEngine.h"

SearchEngine::SearchEngine(const QString &name, const QString &keyword, const QString &url, bool isDefault)
    : name(name)
    , keyword(keyword)
    , url(url)
    , isDefault(isDefault)
{
}

QUrl SearchEngine::searchUrl(const QString &query) const
{
    QString address = url;
    address.replace(QStringLiteral("%s"), QString::fromLatin1(QUrl::toPercentEncoding(query)));
    const QUrl result(address, QUrl::TolerantMode);
    const QString scheme = result.scheme();
    if (!result.isValid() || (scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) != 0 && scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) != 0)
        || result.host().isEmpty())
        return QUrl();
    return result;
}

bool SearchEngine::operator==(const SearchEngine &other) const
{
    return name == other.name && keyword == other.keyword && url == other.url && isDefault == other.isDefault;
}
