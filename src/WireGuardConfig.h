#pragma once

#include <QString>
#include <optional>

// Validation and text of the WireGuard configurations the browser writes.
//
// Every value comes from the account service, and wg-quick runs as root and
// executes PostUp/PreDown lines, so nothing reaches a configuration unless it
// has the exact shape WireGuard expects: a value can never add a line.
class WireGuardConfig
{
public:
    // Cloudflare's public resolver.
    static QString dnsResolver() { return QStringLiteral("1.1.1.1"); }

    // 32 bytes in Base64: 43 characters and one "=".
    static bool isValidKey(const QString &key);
    static bool isValidIPv4(const QString &address);
    static bool isValidIPv6(const QString &address);
    // A single IPv4 or IPv6 address, optionally with "/prefix" when allowPrefix.
    static bool isValidClientAddress(const QString &address, bool allowPrefix);
    // An IP address or a DNS host name.
    static bool isValidHost(const QString &host);
    // host ":" port (1-65535); an IPv6 host in brackets.
    static bool isValidEndpoint(const QString &endpoint);

    // Server ids end up in a file name and (as "orvex_" + id) in the name of
    // a network interface, which Linux limits to 15 characters.
    static bool isValidServerId(const QString &id);
    static QString interfaceNameForServer(const QString &id) { return QStringLiteral("orvex_") + id; }

    // wg-quick names the interface after the configuration file: the file
    // name must be 1 to 15 of [a-zA-Z0-9_=+.-] followed by ".conf". The
    // interface name for a path, or empty when wg-quick would refuse it.
    static QString interfaceNameForFile(const QString &path);
    // A name wg-quick accepts, made from a file name it refuses: other
    // characters become "_", the end is cut at 15 characters.
    static QString usableInterfaceName(const QString &fileName);

    // Configuration for one server of the list: the client address gets
    // "/32" and the endpoint is the server address with port 51820.
    // Empty when any value is unsafe.
    static std::optional<QString> forServer(const QString &privateKey, const QString &clientIp,
                                            const QString &serverPublicKey, const QString &serverAddress);
    // Configuration synced from the account: address and endpoint as sent.
    static std::optional<QString> fromAccount(const QString &privateKey, const QString &address,
                                              const QString &serverPublicKey, const QString &endpoint);
};
