#pragma once

#include <QHash>
#include <QMap>
#include <QTcpServer>
#include <QUrl>
#include <functional>

// A small HTTP/1.1 server on 127.0.0.1 for tests: pages, favicons, downloads,
// the account service, a fake Ollama. Handlers are looked up by exact path;
// everything else answers 404. Each request is recorded with its headers and body.
class TestHttpServer : public QObject
{
    Q_OBJECT
public:
    struct Request {
        QByteArray method;
        QByteArray path; // without the query
        QByteArray query;
        QMap<QByteArray, QByteArray> headers; // names lower-cased
        QByteArray body;
        QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    };
    struct Response {
        int status = 200;
        QByteArray contentType = "text/html; charset=utf-8";
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        int delayMs = 0;      // answer after this long
        qint64 stallAt = -1;  // send only this much of the body, hold the rest back
    };
    using Handler = std::function<Response(const Request &)>;

    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override { abortConnections(); }

    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_server.serverPort(); }
    QUrl url(const QString &path = QString()) const { return QUrl(baseUrl() + path); }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }

    void route(const QByteArray &path, Handler handler) { m_routes.insert(path, std::move(handler)); }
    void setPage(const QByteArray &path, const QByteArray &body,
                 const QByteArray &contentType = "text/html; charset=utf-8", int status = 200);
    void removeRoute(const QByteArray &path) { m_routes.remove(path); }
    void abortConnections(); // cuts every open connection, stalled replies included

    QList<Request> requests() const { return m_requests; }
    int requestCount(const QByteArray &path) const;
    void clearRequests() { m_requests.clear(); }

private:
    void onReadyRead(QTcpSocket *socket);
    void respond(QTcpSocket *socket, const Request &req);

    QTcpServer m_server;
    QHash<QByteArray, Handler> m_routes;
    QList<Request> m_requests;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
