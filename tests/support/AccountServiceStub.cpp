#include "AccountServiceStub.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
TestHttpServer::Response json(const QJsonDocument &doc, int status = 200)
{
    TestHttpServer::Response r;
    r.status = status;
    r.contentType = "application/json";
    r.body = doc.toJson(QJsonDocument::Compact);
    return r;
}

QJsonObject serverEntry(const char *id, const char *name, const char *country, const char *address, char seed)
{
    return QJsonObject{{QStringLiteral("id"), QLatin1String(id)},
                       {QStringLiteral("name"), QLatin1String(name)},
                       {QStringLiteral("country"), QLatin1String(country)},
                       {QStringLiteral("address"), QLatin1String(address)},
                       {QStringLiteral("flag"), QStringLiteral("*")},
                       {QStringLiteral("public_key"), AccountServiceStub::key(seed)}};
}
}

AccountServiceStub::AccountServiceStub(QObject *parent)
    : QObject(parent)
{
    m_server.route("/api/login", [this](const TestHttpServer::Request &req) { return closing(login(req)); });
    m_server.route("/api/vpn/keys", [this](const TestHttpServer::Request &req) { return closing(keys(req)); });
}

// One connection per call, as a browser meeting a fresh service would.
TestHttpServer::Response AccountServiceStub::closing(TestHttpServer::Response r)
{
    r.headers.append(qMakePair(QByteArray("Connection"), QByteArray("close")));
    return r;
}

TestHttpServer::Response AccountServiceStub::login(const TestHttpServer::Request &req)
{
    const QJsonObject body = QJsonDocument::fromJson(req.body).object();
    TestHttpServer::Response r;
    switch (m_loginReply) {
    case LoginReply::NotJson:
        r.body = "<html>maintenance</html>";
        return r;
    case LoginReply::Error:
        return json(QJsonDocument(QJsonObject{{QStringLiteral("error"), QStringLiteral("Invalid credentials")}}));
    case LoginReply::HostileToken:
        return json(QJsonDocument(QJsonObject{{QStringLiteral("token"), QStringLiteral("abc\r\nX-Evil: 1")}}));
    case LoginReply::Slow:
    case LoginReply::Token:
        break;
    }
    if (body.value(QStringLiteral("username")).toString() != userName()
        || body.value(QStringLiteral("password")).toString() != password())
        return json(QJsonDocument(QJsonObject{{QStringLiteral("error"), QStringLiteral("Invalid credentials")}}));
    r = json(QJsonDocument(QJsonObject{{QStringLiteral("token"), sessionToken()}}));
    if (m_loginReply == LoginReply::Slow)
        r.delayMs = m_slowDelayMs;
    return r;
}

TestHttpServer::Response AccountServiceStub::keys(const TestHttpServer::Request &req)
{
    TestHttpServer::Response r;
    if (!req.header("cookie").contains("session_token=" + sessionToken().toUtf8())
        || m_keysReply == KeysReply::Unauthorized) {
        r.status = 401;
        r.contentType = "application/json";
        r.body = "{\"error\":\"Unauthorized\"}";
        return r;
    }
    QJsonObject keys = goodKeys();
    switch (m_keysReply) {
    case KeysReply::Good:
    case KeysReply::Unauthorized:
        break;
    case KeysReply::NoWireGuard:
        keys.remove(QStringLiteral("wireguard"));
        break;
    case KeysReply::Error:
        return json(QJsonDocument(QJsonObject{{QStringLiteral("error"), QStringLiteral("Subscription expired")}}));
    case KeysReply::NotJson:
        r.body = "<html>502 Bad Gateway</html>";
        return r;
    case KeysReply::Array:
        return json(QJsonDocument(QJsonArray{keys}));
    case KeysReply::Slow:
        r = json(QJsonDocument(keys));
        r.delayMs = m_slowDelayMs;
        return r;
    case KeysReply::TraversalId: {
        QJsonArray servers = keys.value(QStringLiteral("available_servers")).toArray();
        QJsonObject first = servers.at(0).toObject();
        first.insert(QStringLiteral("id"), QStringLiteral("../../evil"));
        servers.replace(0, first);
        keys.insert(QStringLiteral("available_servers"), servers);
        break;
    }
    case KeysReply::InjectedEndpoint: {
        QJsonObject wg = keys.value(QStringLiteral("wireguard")).toObject();
        wg.insert(QStringLiteral("endpoint"), QStringLiteral("203.0.113.5:51820\nPostUp = touch /tmp/orvex-pwned"));
        keys.insert(QStringLiteral("wireguard"), wg);
        break;
    }
    }
    return json(QJsonDocument(keys));
}

QString AccountServiceStub::key(char seed)
{
    QByteArray raw(32, seed);
    raw[31] = char(raw[31] ^ 0x5a);
    return QString::fromLatin1(raw.toBase64());
}

QJsonObject AccountServiceStub::goodWireGuard()
{
    return QJsonObject{{QStringLiteral("private_key"), key('p')},
                       {QStringLiteral("client_ip"), QStringLiteral("10.66.0.7")},
                       {QStringLiteral("server_public_key"), key('s')},
                       {QStringLiteral("endpoint"), QStringLiteral("is1.vpn.example:51820")}};
}

QJsonObject AccountServiceStub::goodKeys()
{
    return QJsonObject{
        {QStringLiteral("username"), userName()},
        {QStringLiteral("wireguard"), goodWireGuard()},
        {QStringLiteral("available_servers"),
         QJsonArray{serverEntry("is1", "Reykjavik 1", "Iceland", "is1.vpn.example", 'i'),
                    serverEntry("de1", "Frankfurt 1", "Germany", "198.51.100.20", 'd'),
                    serverEntry("us1", "New York 1", "USA", "us1.vpn.example", 'u')}}};
}

QByteArray AccountServiceStub::lastKeysCookieToken() const
{
    const QList<TestHttpServer::Request> reqs = m_server.requestsFor("/api/vpn/keys");
    if (reqs.isEmpty())
        return {};
    const QByteArray cookie = reqs.last().header("cookie");
    const int at = cookie.indexOf("session_token=");
    return at < 0 ? QByteArray() : cookie.mid(at + 14).split(';').first();
}
