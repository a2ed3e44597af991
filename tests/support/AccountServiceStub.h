#pragma once

#include "TestHttpServer.h"

#include <QJsonObject>

// A reference account service on loopback: POST /api/login and
// GET /api/vpn/keys (cookie "session_token"), with switchable replies.
class AccountServiceStub : public TestHttpServer
{
    Q_OBJECT
public:
    enum class KeysReply {
        Good,            // valid keys, servers in Iceland, Germany, USA
        Error,           // {"error": "Subscription expired"}
        Unauthorized,    // HTTP 401
        NotJson,
        Array,
        Slow,            // Good, after 5 s
        InjectedEndpoint, // "endpoint" carrying a PostUp line
        MarkupUserName    // Good, with markup() as the "username"
    };
    enum class LoginReply { Token, Error, NotJson, Slow, HostileToken, MarkupError /* {"error": markup()} */ };

    explicit AccountServiceStub(QObject *parent = nullptr);

    void setKeysReply(KeysReply reply) { m_keysReply = reply; }
    void setLoginReply(LoginReply reply) { m_loginReply = reply; }

    // The token the login hands out and the keys call accepts, as the whole cookie value.
    static QString sessionToken() { return QStringLiteral("sess-0123456789abcdef"); }
    static QString userName() { return QStringLiteral("alice"); }
    static QString password() { return QStringLiteral("correct horse"); }
    // Text a hostile service sends to be shown as rich text: a link, an image, layout.
    static QString markup() { return QStringLiteral("<a href=\"https://evil.example/\"><img src=\"x.png\"><h1>Bob &amp; Eve</h1></a>"); }

    static QString key(char seed); // a well-formed key derived from a seed byte
    static QJsonObject goodKeys();
    static QJsonObject goodWireGuard();

private:
    Response login(const Request &req) const;
    Response keys(const Request &req) const;

    KeysReply m_keysReply = KeysReply::Good;
    LoginReply m_loginReply = LoginReply::Token;
};
