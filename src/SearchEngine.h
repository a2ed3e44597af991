#pragma once

#include <QString>
#include <QUrl>

// One web search engine: a result-page address template holding "%s".
class SearchEngine
{
public:
    SearchEngine() = default;
    SearchEngine(const QString &name, const QString &keyword, const QString &url, bool isDefault = false);

    // The template with "%s" replaced by the percent-encoded UTF-8 query. Templates
    // come from a user-editable file, so anything but an http(s) address with a
    // host yields an empty QUrl.
    QUrl searchUrl(const QString &query) const;

    bool operator==(const SearchEngine &other) const;
    bool operator!=(const SearchEngine &other) const { return !(*this == other); }

    QString name;
    QString keyword;
    QString url;
    bool isDefault = false; // stored with the record; the manager's default keyword decides
};
