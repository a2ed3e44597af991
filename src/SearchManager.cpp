#include "SearchManager.h"

#include "StoreFile.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

SearchManager::SearchManager(QObject *parent)
    : SearchManager(QString(), parent)
{
}

SearchManager::SearchManager(const QString &configLocation, QObject *parent)
    : QObject(parent)
    , configLocation(configLocation)
    , engines(builtInEngines())
    , defaultKeywordValue(builtInDefaultKeyword())
{
    loadEngines();
}

QList<SearchEngine> SearchManager::builtInEngines()
{
    return {
        SearchEngine(QStringLiteral("Google"), QStringLiteral("google"),
                     QStringLiteral("https://www.google.com/search?q=%s"), true),
        SearchEngine(QStringLiteral("DuckDuckGo"), QStringLiteral("ddg"),
                     QStringLiteral("https://duckduckgo.com/?q=%s"), false),
        SearchEngine(QStringLiteral("Bing"), QStringLiteral("bing"),
                     QStringLiteral("https://www.bing.com/search?q=%s"), false),
        SearchEngine(QStringLiteral("Yahoo"), QStringLiteral("yahoo"),
                     QStringLiteral("https://search.yahoo.com/search?p=%s"), false),
        SearchEngine(QStringLiteral("Startpage"), QStringLiteral("startpage"),
                     QStringLiteral("https://www.startpage.com/sp/search?query=%s"), false),
    };
}

QString SearchManager::getEnginesPath() const
{
    const QString base = configLocation.isEmpty()
        ? QStandardPaths::writableLocation(QStandardPaths::ConfigLocation)
        : configLocation;
    return base + QStringLiteral("/orvexbrowser/search_engines.json");
}

SearchEngine SearchManager::defaultEngine() const
{
    for (const SearchEngine &engine : engines) {
        if (engine.keyword == defaultKeywordValue)
            return engine;
    }
    return engines.isEmpty() ? SearchEngine() : engines.first();
}

void SearchManager::setDefaultEngine(const QString &keyword)
{
    defaultKeywordValue = keyword;
    saveEngines();
}

void SearchManager::addEngine(const SearchEngine &engine)
{
    engines.append(engine);
    saveEngines();
}

void SearchManager::removeEngine(const QString &keyword)
{
    for (qsizetype i = 0; i < engines.size(); ++i) {
        if (engines.at(i).keyword == keyword) {
            engines.removeAt(i);
            break;
        }
    }
    saveEngines();
}

void SearchManager::updateEngine(const QString &keyword, const SearchEngine &engine)
{
    for (SearchEngine &existing : engines) {
        if (existing.keyword == keyword) {
            existing = engine;
            break;
        }
    }
    saveEngines();
}

QUrl SearchManager::searchUrl(const QString &query, const QString &engineKeyword) const
{
    const QString keyword = engineKeyword.isEmpty() ? defaultKeywordValue : engineKeyword;
    for (const SearchEngine &engine : engines) {
        if (engine.keyword == keyword)
            return engine.searchUrl(query);
    }
    return defaultEngine().searchUrl(query);
}

QStringList SearchManager::suggestions(const QString &query) const
{
    Q_UNUSED(query)
    return {};
}

void SearchManager::loadEngines()
{
    StoreFile::LoadResult result{};
    const QJsonDocument doc = StoreFile::readJson(getEnginesPath(), StoreFile::JsonType::Object, &result);
    switch (result) {
    case StoreFile::LoadResult::Loaded:
        break;
    case StoreFile::LoadResult::Unreadable:
        qWarning().noquote() << "SearchManager: cannot read" << getEnginesPath() << "- using the built-in engines";
        return;
    case StoreFile::LoadResult::Corrupt:
        // StoreFile kept the damaged bytes aside; the user didn't empty the
        // list, so the built-ins serve rather than no engine at all.
    case StoreFile::LoadResult::Missing:
        return;
    }

    const QJsonObject root = doc.object();
    defaultKeywordValue = root.value(QLatin1String("default")).toString();
    // A readable file without "engines" is the user's own empty list.
    engines.clear();
    const QJsonArray list = root.value(QLatin1String("engines")).toArray();
    for (const QJsonValue &value : list) {
        const QJsonObject o = value.toObject();
        engines.append(SearchEngine(o.value(QLatin1String("name")).toString(),
                                    o.value(QLatin1String("keyword")).toString(),
                                    o.value(QLatin1String("url")).toString(),
                                    o.value(QLatin1String("default")).toBool()));
    }
}

void SearchManager::saveEngines()
{
    QJsonArray list;
    for (const SearchEngine &engine : std::as_const(engines)) {
        list.append(QJsonObject{{QStringLiteral("name"), engine.name},
                                {QStringLiteral("keyword"), engine.keyword},
                                {QStringLiteral("url"), engine.url},
                                {QStringLiteral("default"), engine.isDefault}});
    }
    const QJsonObject root{{QStringLiteral("default"), defaultKeywordValue},
                           {QStringLiteral("engines"), list}};
    if (!StoreFile::writeJson(getEnginesPath(), QJsonDocument(root)))
        qWarning().noquote() << "SearchManager: could not write" << getEnginesPath() << "- the change is kept in memory only";
}
