#pragma once

#include "TestHttpServer.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

// A reference account service on loopback: POST /api/login and
// GET /api/vpn/keys (cookie "session_token"), with switchable replies.
class AccountServiceStub : public QObject
{
    Q_OBJECT
public:
    enum class KeysReply {
        Good,            // valid keys, servers in Iceland, Germany, USA
        NoWireGuard,     // servers only
        Error,           // {"error": "Subscription expired"}
        Unauthorized,    // HTTP 401
        NotJson,
        Array,
        Slow,            // Good, after slowDelayMs
        TraversalId,     // a server id "../../evil"
        InjectedEndpoint // "endpoint" carrying a PostUp line
    };
    enum class LoginReply { Token, Error, NotJson, Slow, HostileToken };

    explicit AccountServiceStub(QObject *parent = nullptr);

    bool listen() { return m_server.listen(); }
    QString baseUrl() const { return m_server.baseUrl(); }
    TestHttpServer &server() { return m_server; }

    void setKeysReply(KeysReply reply) { m_keysReply = reply; }
    void setLoginReply(LoginReply reply) { m_loginReply = reply; }
    void setSlowDelayMs(int ms) { m_slowDelayMs = ms; }

    // The token the login hands out and the keys call accepts.
    static QString sessionToken() { return QStringLiteral("sess-0123456789abcdef"); }
    static QString userName() { return QStringLiteral("alice"); }
    static QString password() { return QStringLiteral("correct horse"); }

    // A well-formed key derived from a seed byte.
    static QString key(char seed);
    static QJsonObject goodKeys();
    static QJsonObject goodWireGuard();

    // Cookie "session_token" value of the last keys request (empty if none).
    QByteArray lastKeysCookieToken() const;

private:
    TestHttpServer::Response login(const TestHttpServer::Request &req);
    TestHttpServer::Response keys(const TestHttpServer::Request &req);
    static TestHttpServer::Response closing(TestHttpServer::Response r);

    TestHttpServer m_server;
    KeysReply m_keysReply = KeysReply::Good;
    LoginReply m_loginReply = LoginReply::Token;
    int m_slowDelayMs = 3000;
};
