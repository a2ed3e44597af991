#pragma once

#include <QByteArrayView>
#include <QString>

class QUrl;

// Registrable domains ("eTLD+1") from the Public Suffix List through libpsl:
// the system's current list when it is installed, libpsl's built-in one
// otherwise. Safe to call from any thread; no allocation per call.
class PublicSuffix
{
public:
    // Offset of the registrable domain inside host (a lower-case ASCII host
    // name, IDN in punycode, followed by a NUL byte at host[length]). The
    // host itself (offset 0) for IP addresses and for hosts that are a public
    // suffix themselves ("github.io") or have none ("localhost").
    static qsizetype registrableOffset(const char *host, qsizetype length);
    // Offset of the public suffix ("co.uk" in "www.bbc.co.uk"); length when
    // there is none (an IP address).
    static qsizetype suffixOffset(const char *host, qsizetype length);

    static bool isIpAddress(QByteArrayView host);

    // The site of an address: the registrable domain of its host, lower case,
    // IDN in punycode ("bbc.co.uk" for https://www.bbc.co.uk/news); the host
    // itself for IP addresses, "localhost" and the like. Empty for addresses
    // without a host (about:, data:, file:).
    static QString site(const QUrl &url);
    static QString siteOfHost(const QString &host);
};
