#include "FilterCheck.h"

#include <unistd.h>

FilterCheck::FilterCheck(std::shared_ptr<const FilterEngine> engine, BuiltinCheck builtin)
    : m_engine(std::move(engine))
    , m_builtin(std::move(builtin))
{
}

namespace {
QByteArray oneLine(const QString &text)
{
    // Rule texts never hold line breaks, but an error message quotes input.
    QByteArray bytes = text.toUtf8();
    bytes.replace('\n', ' ').replace('\r', ' ').replace('\t', ' ');
    return bytes;
}
}

QByteArray FilterCheck::check(QByteArrayView raw)
{
    QByteArrayView line = raw;
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.size() > MaxLineLength)
        return "error\tline too long";
    const qsizetype tab1 = line.indexOf('\t');
    const qsizetype tab2 = tab1 < 0 ? -1 : line.indexOf('\t', tab1 + 1);
    if (tab2 < 0 || line.indexOf('\t', tab2 + 1) >= 0)
        return "error\texpected URL<TAB>PAGE_URL<TAB>TYPE";
    const QByteArrayView urlText = line.first(tab1).trimmed();
    const QByteArrayView pageText = line.sliced(tab1 + 1, tab2 - tab1 - 1).trimmed();
    const QByteArrayView typeText = line.sliced(tab2 + 1).trimmed();

    const quint32 type = FilterEngine::typeFromName(QString::fromUtf8(typeText));
    if (type == 0)
        return "error\tunknown type " + oneLine(QString::fromUtf8(typeText));
    // Parsed as the browser's own URLs are: what Chromium accepts, QUrl does in tolerant mode.
    const QUrl url(QString::fromUtf8(urlText), QUrl::TolerantMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return "error\tinvalid URL " + oneLine(QString::fromUtf8(urlText.first(qMin<qsizetype>(urlText.size(), 200))));
    QUrl pageUrl;
    if (!pageText.isEmpty()) {
        pageUrl = QUrl(QString::fromUtf8(pageText), QUrl::TolerantMode);
        if (!pageUrl.isValid() || pageUrl.isRelative())
            return "error\tinvalid page URL " + oneLine(QString::fromUtf8(pageText.first(qMin<qsizetype>(pageText.size(), 200))));
    }

    // A main frame is its own page; pages repeat from line to line.
    const QByteArray encoded = FilterEngine::encodedUrl(url);
    const QByteArray pageEncoded = type == FilterRule::Document ? encoded : FilterEngine::encodedUrl(pageUrl);
    if (!m_hasPage || pageEncoded != m_lastPageUrl) {
        m_lastPage = m_engine->page(QByteArrayView(pageEncoded));
        m_lastPageUrl = pageEncoded;
        m_hasPage = true;
    }
    const FilterEngine::Decision d = m_engine->decide(encoded, m_lastPage, type);
    if (d.blocked)
        return "block\t" + oneLine(m_engine->ruleText(d.rule));
    if (m_builtin) {
        const QString builtin = m_builtin(url);
        if (!builtin.isEmpty()) {
            const qint32 exception = d.rule >= 0 ? d.rule : m_engine->findException(encoded, m_lastPage, type);
            if (exception < 0)
                return "block\t" + oneLine(builtin);
            return "allow\t" + oneLine(m_engine->ruleText(exception));
        }
    }
    if (d.rule >= 0)
        return "allow\t" + oneLine(m_engine->ruleText(d.rule));
    return "allow";
}

qint64 FilterCheck::run(FILE *in, FILE *out)
{
    // Someone typing lines wants each answer at once; a pipe gets buffering.
    const bool interactive = isatty(fileno(in));
    char *buffer = nullptr;
    size_t capacity = 0;
    qint64 lines = 0;
    ssize_t n;
    while ((n = getline(&buffer, &capacity, in)) >= 0) {
        ++lines;
        QByteArray result = check(QByteArrayView(buffer, n));
        result += '\n';
        fwrite(result.constData(), 1, size_t(result.size()), out);
        if (interactive)
            fflush(out);
    }
    free(buffer);
    fflush(out);
    return lines;
}
