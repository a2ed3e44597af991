#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QUrl>
#include <functional>

// A small HTTP/1.1 server on 127.0.0.1 for tests: pages, favicons, the account
// service, a fake Ollama. Handlers are looked up by exact path; everything
// else answers 404. Each request is recorded with its headers and body.
class TestHttpServer : public QObject
{
    Q_OBJECT
public:
    struct Request {
        QByteArray method;
        QByteArray path;     // without the query
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
        int delayMs = 0;          // answer after this long
        bool closeWithoutReply = false;
    };
    using Handler = std::function<Response(const Request &)>;

    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;

    bool listen(); // on 127.0.0.1, any free port
    quint16 port() const;
    QUrl url(const QString &path = QString()) const; // http://127.0.0.1:<port><path>
    QString baseUrl() const;                         // without trailing slash

    void route(const QByteArray &path, Handler handler);
    void setPage(const QByteArray &path, const QByteArray &body,
                 const QByteArray &contentType = "text/html; charset=utf-8", int status = 200);
    void removeRoute(const QByteArray &path);

    QList<Request> requests() const { return m_requests; }
    QList<Request> requestsFor(const QByteArray &path) const;
    int requestCount(const QByteArray &path) const { return requestsFor(path).size(); }
    void clearRequests() { m_requests.clear(); }

Q_SIGNALS:
    void requestReceived(const QByteArray &path);

private:
    void onNewConnection();
    void onReadyRead();
    void respond(class QTcpSocket *socket, const Request &req);

    QTcpServer m_server;
    QHash<QByteArray, Handler> m_routes;
    QList<Request> m_requests;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
