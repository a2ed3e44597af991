#include "PublicSuffix.h"

#include <QUrl>

#include <libpsl.h>

namespace {
const psl_ctx_t *context()
{
    // Kept for the life of the process; libpsl's lookups only read it.
    static const psl_ctx_t *const ctx = [] {
        const psl_ctx_t *latest = psl_latest(nullptr);
        return latest ? latest : psl_builtin();
    }();
    return ctx;
}
}

bool PublicSuffix::isIpAddress(QByteArrayView host)
{
    if (host.isEmpty())
        return false;
    if (host.contains(':') || host.startsWith('['))
        return true;
    // Dotted digits only: an IPv4 address (no top-level domain is numeric).
    for (char c : host) {
        if (c != '.' && (c < '0' || c > '9'))
            return false;
    }
    return true;
}

qsizetype PublicSuffix::registrableOffset(const char *host, qsizetype length)
{
    if (length <= 0 || isIpAddress(QByteArrayView(host, length)))
        return 0;
    const char *domain = psl_registrable_domain(context(), host);
    if (!domain || domain < host || domain > host + length)
        return 0;
    return domain - host;
}

qsizetype PublicSuffix::suffixOffset(const char *host, qsizetype length)
{
    if (length <= 0 || isIpAddress(QByteArrayView(host, length)))
        return length;
    const char *suffix = psl_unregistrable_domain(context(), host);
    if (!suffix || suffix < host || suffix > host + length)
        return length;
    return suffix - host;
}

QString PublicSuffix::siteOfHost(const QString &host)
{
    // Punycode, lower case, without the final dot of a fully qualified name.
    QByteArray ascii = QUrl::toAce(host).toLower();
    while (ascii.endsWith('.'))
        ascii.chop(1);
    if (ascii.isEmpty())
        return {};
    const qsizetype offset = registrableOffset(ascii.constData(), ascii.size());
    return QString::fromLatin1(ascii.constData() + offset, ascii.size() - offset);
}

QString PublicSuffix::site(const QUrl &url)
{
    return siteOfHost(url.host(QUrl::FullyDecoded));
}
