// SearchEngine::searchUrl on arbitrary templates (a user-editable file) and
// queries (typed text): the result is empty or an http(s) address with a
// host, and the query can't move it to another host.
// Input: template, a NUL byte, query.
#include "FuzzSupport.h"
#include "SearchEngine.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::captureMessages();
    return 0;
}

namespace {
bool isWeb(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = bytes.indexOf('\0');
    const QString tmpl = QString::fromUtf8(cut < 0 ? bytes : bytes.left(cut));
    const QString query = cut < 0 ? QString() : QString::fromUtf8(bytes.mid(cut + 1));

    const SearchEngine engine(QStringLiteral("Fuzz"), QStringLiteral("fuzz"), tmpl);
    const QUrl url = engine.searchUrl(query);
    if (url.isEmpty())
        return 0;
    FUZZ_CHECK(isWeb(url));

    // With "%s" outside the host part, every query lands on the same host.
    const qsizetype afterScheme = tmpl.indexOf(QLatin1String("://"));
    const qsizetype placeholder = tmpl.indexOf(QLatin1String("%s"));
    if (afterScheme >= 0 && placeholder >= 0) {
        qsizetype authorityEnd = tmpl.size();
        // A backslash does not end the authority for QUrl ("t+\\7@h" is user info).
        for (const QChar stop : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
            const qsizetype at = tmpl.indexOf(stop, afterScheme + 3);
            if (at >= 0)
                authorityEnd = qMin(authorityEnd, at);
        }
        if (placeholder > authorityEnd) {
            const QUrl plain = engine.searchUrl(QStringLiteral("q"));
            FUZZ_CHECK(plain.isEmpty() || plain.host() == url.host());
        }
    }
    return 0;
}
