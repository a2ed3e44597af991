#pragma once

#include "FilterEngine.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdio>
#include <functional>
#include <memory>

// The decision logic of orvex-filtercheck: one input line
// "URL<TAB>PAGE_URL<TAB>TYPE" (a webRequest type name) gives one output line,
// "block<TAB><rule>", "allow", "allow<TAB><exception>", or "error<TAB><why>"
// for a line it can't read. Requests go through FilterEngine exactly as the
// browser's do; the browser's built-in host lists, when given, block what
// they list unless an exception of the lists allows it.
class FilterCheck
{
public:
    // What the built-in lists say of a URL: a short description of the entry
    // that blocks it, or an empty string.
    using BuiltinCheck = std::function<QString(const QUrl &url)>;

    explicit FilterCheck(std::shared_ptr<const FilterEngine> engine, BuiltinCheck builtin = {});

    // Lines longer than this (no browser sends such URLs) are refused.
    static constexpr qsizetype MaxLineLength = 4 * 1024 * 1024;

    // The output line for one input line, without the line break.
    QByteArray check(QByteArrayView line);
    // Reads lines from in until its end, writes one line each to out.
    // Returns the number of lines read.
    qint64 run(FILE *in, FILE *out);

private:
    std::shared_ptr<const FilterEngine> m_engine;
    BuiltinCheck m_builtin;
    QByteArray m_lastPageUrl;
    FilterEngine::Page m_lastPage;
    bool m_hasPage = false;
};
