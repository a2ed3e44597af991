#include "AccountServiceStub.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {
constexpr int SlowMs = 5000;

TestHttpServer::Response json(const QJsonDocument &doc, int delayMs = 0)
{
    return {200, "application/json", doc.toJson(QJsonDocument::Compact), {}, delayMs};
}

TestHttpServer::Response error(const QString &message)
{
    return json(QJsonDocument(QJsonObject{{u"error"_s, message}}));
}

QJsonObject serverEntry(const char *id, const char *name, const char *country, const char *address, char seed)
{
    return {{u"id"_s, QLatin1String(id)}, {u"name"_s, QLatin1String(name)}, {u"country"_s, QLatin1String(country)},
            {u"address"_s, QLatin1String(address)}, {u"flag"_s, u"*"_s}, {u"public_key"_s, AccountServiceStub::key(seed)}};
}
}

AccountServiceStub::AccountServiceStub(QObject *parent)
    : TestHttpServer(parent)
{
    // One connection per call, as a browser meeting a fresh service would.
    const auto closing = [](Response r) {
        r.headers.append(QPair<QByteArray, QByteArray>("Connection", "close"));
        return r;
    };
    route("/api/login", [=](const Request &req) { return closing(login(req)); });
    route("/api/vpn/keys", [=](const Request &req) { return closing(keys(req)); });
}

TestHttpServer::Response AccountServiceStub::login(const Request &req) const
{
    switch (m_loginReply) {
    case LoginReply::NotJson:
        return {200, "text/html", "<html>maintenance</html>", {}};
    case LoginReply::Error:
        return error(u"Invalid credentials"_s);
    case LoginReply::HostileToken:
        return json(QJsonDocument(QJsonObject{{u"token"_s, u"abc\r\nX-Evil: 1"_s}}));
    case LoginReply::MarkupError:
        return error(markup());
    case LoginReply::Slow:
    case LoginReply::Token:
        break;
    }
    const QJsonObject body = QJsonDocument::fromJson(req.body).object();
    if (body[u"username"_s].toString() != userName() || body[u"password"_s].toString() != password())
        return error(u"Invalid credentials"_s);
    return json(QJsonDocument(QJsonObject{{u"token"_s, sessionToken()}}), m_loginReply == LoginReply::Slow ? SlowMs : 0);
}

TestHttpServer::Response AccountServiceStub::keys(const Request &req) const
{
    // The cookie must carry exactly the token, nothing appended.
    if (!("; " + req.header("cookie") + ";").contains("; session_token=" + sessionToken().toUtf8() + ";")
        || m_keysReply == KeysReply::Unauthorized)
        return {401, "application/json", R"({"error":"Unauthorized"})", {}};
    QJsonObject keys = goodKeys();
    switch (m_keysReply) {
    case KeysReply::Error:
        return error(u"Subscription expired"_s);
    case KeysReply::NotJson:
        return {200, "text/html", "<html>502 Bad Gateway</html>", {}};
    case KeysReply::Array:
        return json(QJsonDocument(QJsonArray{keys}));
    case KeysReply::MarkupUserName:
        keys[u"username"_s] = markup();
        break;
    case KeysReply::InjectedEndpoint: {
        QJsonObject wg = keys[u"wireguard"_s].toObject();
        wg[u"endpoint"_s] = u"203.0.113.5:51820\nPostUp = touch /tmp/orvex-pwned"_s;
        keys[u"wireguard"_s] = wg;
        break;
    }
    default:
        break;
    }
    return json(QJsonDocument(keys), m_keysReply == KeysReply::Slow ? SlowMs : 0);
}

QString AccountServiceStub::key(char seed)
{
    QByteArray raw(32, seed);
    raw[31] = char(raw[31] ^ 0x5a);
    return QString::fromLatin1(raw.toBase64());
}

QJsonObject AccountServiceStub::goodWireGuard()
{
    return {{u"private_key"_s, key('p')}, {u"client_ip"_s, u"10.66.0.7"_s},
            {u"server_public_key"_s, key('s')}, {u"endpoint"_s, u"is1.vpn.example:51820"_s}};
}

QJsonObject AccountServiceStub::goodKeys()
{
    return {{u"username"_s, userName()},
            {u"wireguard"_s, goodWireGuard()},
            {u"available_servers"_s, QJsonArray{serverEntry("is1", "Reykjavik 1", "Iceland", "is1.vpn.example", 'i'),
                                                serverEntry("de1", "Frankfurt 1", "Germany", "198.51.100.20", 'd'),
                                                serverEntry("us1", "New York 1", "USA", "us1.vpn.example", 'u')}}};
}
