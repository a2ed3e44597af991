#pragma once

#include "SearchEngine.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

// The list of web search engines and the default one, kept in
// search_engines.json in the data folder. Every change is written at once.
class SearchManager : public QObject
{
    Q_OBJECT
public:
    explicit SearchManager(QObject *parent = nullptr);
    // configLocation replaces the user's generic configuration folder (tests).
    explicit SearchManager(const QString &configLocation, QObject *parent = nullptr);

    static QList<SearchEngine> builtInEngines();
    static QString builtInDefaultKeyword() { return QStringLiteral("google"); }

    QList<SearchEngine> searchEngines() const { return engines; }
    SearchEngine defaultEngine() const;
    QString defaultKeyword() const { return defaultKeywordValue; }
    void setDefaultEngine(const QString &keyword);
    void addEngine(const SearchEngine &engine);
    void removeEngine(const QString &keyword);
    void updateEngine(const QString &keyword, const SearchEngine &engine);

    // An empty or unknown keyword uses the default engine; empty QUrl when
    // there is no engine or its template is not an http(s) address.
    QUrl searchUrl(const QString &query, const QString &engineKeyword = QString()) const;
    QStringList suggestions(const QString &query) const;

    void loadEngines();
    void saveEngines();
    QString getEnginesPath() const;

private:
    QString configLocation; // empty: QStandardPaths' generic configuration folder
    QList<SearchEngine> engines;
    QString defaultKeywordValue;
};
