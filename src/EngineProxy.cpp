#include "EngineProxy.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>

namespace {
// "[scheme://]host:port" as Chromium takes it; a scheme we cannot speak
// (socks4) gives no proxy rather than a wrong one.
QNetworkProxy proxyFromText(const QString &text)
{
    QString spec = text.trimmed();
    QNetworkProxy::ProxyType type = QNetworkProxy::HttpProxy;
    if (const int at = spec.indexOf(QStringLiteral("://")); at >= 0) {
        const QString scheme = spec.left(at).toLower();
        spec = spec.mid(at + 3);
        if (scheme == QLatin1String("socks5") || scheme == QLatin1String("socks"))
            type = QNetworkProxy::Socks5Proxy;
        else if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
            return QNetworkProxy(QNetworkProxy::NoProxy);
    }
    const QUrl parsed(QStringLiteral("http://") + spec);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return QNetworkProxy(QNetworkProxy::NoProxy);
    const int defaultPort = type == QNetworkProxy::Socks5Proxy ? 1080 : 80;
    return QNetworkProxy(type, parsed.host(), quint16(parsed.port(defaultPort)));
}

bool isLoopback(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || host.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive))
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool bypassed(const QStringList &patterns, const QString &host)
{
    for (const QString &pattern : patterns) {
        if (pattern == QLatin1String("<local>")) {
            if (!host.contains(QLatin1Char('.')) && !host.contains(QLatin1Char(':')))
                return true;
            continue;
        }
        const QString wildcard = pattern.startsWith(QLatin1Char('.')) ? QLatin1Char('*') + pattern : pattern;
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(wildcard),
                                    QRegularExpression::CaseInsensitiveOption);
        if (re.match(host).hasMatch() || (pattern.startsWith(QLatin1String("*.")) && host.compare(pattern.mid(2), Qt::CaseInsensitive) == 0))
            return true;
    }
    return false;
}
}

EngineProxy::EngineProxy(const Rules &rules)
    : m_rules(rules)
{
}

EngineProxy::Rules EngineProxy::rulesFromFlags(const QByteArray &flags)
{
    Rules rules;
    const QStringList words = QString::fromLocal8Bit(flags).split(QRegularExpression(QStringLiteral("\\s+")),
                                                                 Qt::SkipEmptyParts);
    QString server;
    bool none = false;
    for (QString word : words) {
        word.remove(QLatin1Char('"')).remove(QLatin1Char('\''));
        if (word == QLatin1String("--no-proxy-server"))
            none = true;
        else if (word.startsWith(QLatin1String("--proxy-server=")))
            server = word.mid(15);
        else if (word.startsWith(QLatin1String("--proxy-bypass-list=")))
            rules.bypass = word.mid(20).split(QRegularExpression(QStringLiteral("[;,]")), Qt::SkipEmptyParts);
    }
    if (none || server.isEmpty())
        return Rules();
    if (rules.bypass.removeAll(QStringLiteral("<-loopback>")) > 0)
        rules.bypassLoopback = false;
    if (!server.contains(QLatin1Char('='))) {
        rules.http = rules.https = proxyFromText(server);
        return rules;
    }
    // Per scheme: "http=host:port;https=host:port".
    for (const QString &part : server.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString scheme = part.section(QLatin1Char('='), 0, 0).trimmed().toLower();
        const QNetworkProxy proxy = proxyFromText(part.section(QLatin1Char('='), 1));
        if (scheme == QLatin1String("http"))
            rules.http = proxy;
        else if (scheme == QLatin1String("https"))
            rules.https = proxy;
    }
    return rules;
}

QNetworkProxy EngineProxy::proxyFor(const Rules &rules, const QUrl &url)
{
    const QString host = url.host();
    if ((rules.bypassLoopback && isLoopback(host)) || bypassed(rules.bypass, host))
        return QNetworkProxy(QNetworkProxy::NoProxy);
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? rules.https : rules.http;
}

void EngineProxy::install(const QByteArray &flags)
{
    const Rules rules = rulesFromFlags(flags);
    if (!rules.isEmpty())
        QNetworkProxyFactory::setApplicationProxyFactory(new EngineProxy(rules));
}

QList<QNetworkProxy> EngineProxy::queryProxy(const QNetworkProxyQuery &query)
{
    return {proxyFor(m_rules, query.url())};
}
