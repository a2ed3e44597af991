#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The scripts and style sheets the browser puts into pages, kept as files in
// the resources (resources/scripts/) so they can be read, linted and changed
// like code. A template marks each value it takes with a string literal
// "@NAME@"; fill() replaces each such literal (quotes included) with a
// JavaScript literal made by the helpers below, so a template is valid
// JavaScript before and after.
class PageScript
{
public:
    // The template ":/scripts/<name>", or an empty string when there is none.
    static QString source(const QString &name);
    // The template with every "@NAME@" literal replaced by values[NAME].
    // Placeholders without a value stay as they are.
    static QString fill(const QString &name, const QHash<QString, QString> &values);
    // The script behind the element feed (elementfeed.js) it takes the
    // page's elements from.
    static QString withElementFeed(const QString &script);

    // JavaScript literals, safe for any text: a quoted string (quotes,
    // backslashes, line breaks and the separators U+2028/U+2029 escaped),
    // an array of such strings, true or false.
    static QString string(QStringView text);
    static QString array(const QStringList &entries);
    static QString boolean(bool value);
};
