#include "WireGuardConfig.h"

#include <QByteArray>
#include <QHostAddress>
#include <QRegularExpression>

// Patterns end in \z, not $: $ also matches before a final newline, which
// would let a value add a line to the configuration.
bool WireGuardConfig::isValidKey(const QString &key)
{
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z0-9+/]{43}=\\z"));
    if (!shape.match(key).hasMatch())
        return false;
    // The last character must leave no stray bits, or wg rejects the key.
    const QByteArray raw = QByteArray::fromBase64(key.toLatin1());
    return raw.size() == 32 && raw.toBase64() == key.toLatin1();
}

bool WireGuardConfig::isValidIPv4(const QString &address)
{
    // Strict dotted quad: no short forms, no leading zeros, no hex.
    static const QRegularExpression quad(QStringLiteral(
        "^((25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])\\.){3}(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])\\z"));
    return quad.match(address).hasMatch();
}

bool WireGuardConfig::isValidIPv6(const QString &address)
{
    static const QRegularExpression chars(QStringLiteral("^[0-9A-Fa-f:.]{2,45}\\z"));
    if (!chars.match(address).hasMatch() || !address.contains(QLatin1Char(':')))
        return false;
    QHostAddress parsed;
    return parsed.setAddress(address) && parsed.protocol() == QAbstractSocket::IPv6Protocol;
}

bool WireGuardConfig::isValidClientAddress(const QString &address, bool allowPrefix)
{
    QString ip = address;
    int maxPrefix = -1;
    const int slash = address.indexOf(QLatin1Char('/'));
    if (slash >= 0) {
        if (!allowPrefix)
            return false;
        static const QRegularExpression digits(QStringLiteral("^(0|[1-9][0-9]{0,2})\\z"));
        const QString prefix = address.mid(slash + 1);
        if (!digits.match(prefix).hasMatch())
            return false;
        maxPrefix = prefix.toInt();
        ip = address.left(slash);
    }
    if (isValidIPv4(ip))
        return maxPrefix <= 32;
    if (isValidIPv6(ip))
        return maxPrefix <= 128;
    return false;
}

bool WireGuardConfig::isValidHost(const QString &host)
{
    if (isValidIPv4(host) || isValidIPv6(host))
        return true;
    static const QRegularExpression label(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?\\z"));
    if (host.isEmpty() || host.size() > 253)
        return false;
    const QStringList labels = host.split(QLatin1Char('.'));
    for (const QString &l : labels) {
        if (!label.match(l).hasMatch())
            return false;
    }
    // All-numeric names would be read as (short-form) IPv4 addresses.
    static const QRegularExpression numeric(QStringLiteral("^[0-9.]+\\z"));
    return !numeric.match(host).hasMatch();
}

bool WireGuardConfig::isValidEndpoint(const QString &endpoint)
{
    const int colon = endpoint.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    static const QRegularExpression portShape(QStringLiteral("^[1-9][0-9]{0,4}\\z"));
    const QString port = endpoint.mid(colon + 1);
    if (!portShape.match(port).hasMatch() || port.toInt() > 65535)
        return false;
    QString host = endpoint.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        return isValidIPv6(host.mid(1, host.size() - 2));
    return isValidIPv4(host) || (isValidHost(host) && !host.contains(QLatin1Char(':')));
}

bool WireGuardConfig::isValidServerId(const QString &id)
{
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z0-9_-]+\\z"));
    return shape.match(id).hasMatch() && interfaceNameForServer(id).size() <= 15;
}

namespace {
QString render(const QString &privateKey, const QString &address, const QString &serverPublicKey,
               const QString &endpoint)
{
    return QStringLiteral("[Interface]\n"
                          "PrivateKey = %1\n"
                          "Address = %2\n"
                          "DNS = %3\n"
                          "\n"
                          "[Peer]\n"
                          "PublicKey = %4\n"
                          "Endpoint = %5\n"
                          "AllowedIPs = 0.0.0.0/0\n"
                          "PersistentKeepalive = 25\n")
        .arg(privateKey, address, WireGuardConfig::dnsResolver(), serverPublicKey, endpoint);
}
}

std::optional<QString> WireGuardConfig::forServer(const QString &privateKey, const QString &clientIp,
                                                  const QString &serverPublicKey, const QString &serverAddress)
{
    if (!isValidKey(privateKey) || !isValidKey(serverPublicKey) || !isValidIPv4(clientIp)
        || !isValidHost(serverAddress))
        return std::nullopt;
    // An IPv6 literal needs brackets before the port.
    const QString host = isValidIPv6(serverAddress) ? QLatin1Char('[') + serverAddress + QLatin1Char(']')
                                                    : serverAddress;
    return render(privateKey, clientIp + QStringLiteral("/32"), serverPublicKey, host + QStringLiteral(":51820"));
}

std::optional<QString> WireGuardConfig::fromAccount(const QString &privateKey, const QString &address,
                                                    const QString &serverPublicKey, const QString &endpoint)
{
    if (!isValidKey(privateKey) || !isValidKey(serverPublicKey) || !isValidClientAddress(address, true)
        || !isValidEndpoint(endpoint))
        return std::nullopt;
    return render(privateKey, address, serverPublicKey, endpoint);
}

QString WireGuardConfig::interfaceNameForFile(const QString &path)
{
    static const QRegularExpression usable(QStringLiteral("^([a-zA-Z0-9_=+.-]{1,15})\\.conf\\z"));
    const QString name = usable.match(path.section(QLatin1Char('/'), -1)).captured(1);
    // The kernel refuses these two although wg-quick lets them through.
    return name == QLatin1String(".") || name == QLatin1String("..") ? QString() : name;
}

QString WireGuardConfig::usableInterfaceName(const QString &fileName)
{
    QString base = fileName.section(QLatin1Char('/'), -1);
    if (base.endsWith(QLatin1String(".conf"), Qt::CaseInsensitive))
        base.chop(5);
    QString name;
    for (const QChar c : base) {
        if (name.size() == 15)
            break;
        const bool allowed = (c.unicode() < 128 && c.isLetterOrNumber()) || QStringView(u"_=+.-").contains(c);
        // A surrogate pair is one character to the user, so one "_".
        if (c.isLowSurrogate())
            continue;
        name += allowed ? c : QLatin1Char('_');
    }
    return name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ? QStringLiteral("orvexwg") : name;
}
