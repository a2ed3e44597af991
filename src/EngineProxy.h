#pragma once

#include <QByteArray>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QStringList>

// Our own requests (favicons, the account service, filter-list downloads)
// take the proxy the user gave the web engine in QTWEBENGINE_CHROMIUM_FLAGS,
// with the engine's rules: loopback is reached directly, and so is whatever
// --proxy-bypass-list names. The engine itself keeps reading its own flags
// (it ignores a proxy factory).
class EngineProxy : public QNetworkProxyFactory
{
public:
    struct Rules {
        QNetworkProxy http{QNetworkProxy::NoProxy};  // for http:// (and anything not https)
        QNetworkProxy https{QNetworkProxy::NoProxy}; // for https://
        QStringList bypass;                          // host patterns reached directly
        bool bypassLoopback = true;
        bool isEmpty() const
        {
            return http.type() == QNetworkProxy::NoProxy && https.type() == QNetworkProxy::NoProxy;
        }
    };

    explicit EngineProxy(const Rules &rules);

    // The proxy rules in a QTWEBENGINE_CHROMIUM_FLAGS value; empty rules when
    // it names none (or --no-proxy-server).
    static Rules rulesFromFlags(const QByteArray &flags);
    // The proxy for a request to `url` under `rules`.
    static QNetworkProxy proxyFor(const Rules &rules, const QUrl &url);
    // Installs the factory for this process when the flags name a proxy.
    static void install(const QByteArray &flags);

    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override;

private:
    Rules m_rules;
};
