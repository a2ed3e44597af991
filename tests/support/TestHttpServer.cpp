#include "TestHttpServer.h"

#include <QTcpSocket>
#include <QTimer>

TestHttpServer::TestHttpServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
}

TestHttpServer::~TestHttpServer()
{
    // Sockets die with m_server, after the members their handlers use.
    const auto sockets = m_server.findChildren<QTcpSocket *>();
    for (QTcpSocket *socket : sockets) {
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
    }
    m_buffers.clear();
    m_server.close();
}

bool TestHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

quint16 TestHttpServer::port() const
{
    return m_server.serverPort();
}

QUrl TestHttpServer::url(const QString &path) const
{
    return QUrl(baseUrl() + path);
}

QString TestHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void TestHttpServer::route(const QByteArray &path, Handler handler)
{
    m_routes.insert(path, std::move(handler));
}

void TestHttpServer::setPage(const QByteArray &path, const QByteArray &body,
                             const QByteArray &contentType, int status)
{
    route(path, [body, contentType, status](const Request &) {
        Response r;
        r.status = status;
        r.body = body;
        r.contentType = contentType;
        return r;
    });
}

void TestHttpServer::removeRoute(const QByteArray &path)
{
    m_routes.remove(path);
}

QList<TestHttpServer::Request> TestHttpServer::requestsFor(const QByteArray &path) const
{
    QList<Request> out;
    for (const Request &r : m_requests) {
        if (r.path == path)
            out.append(r);
    }
    return out;
}

void TestHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, &TestHttpServer::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void TestHttpServer::onReadyRead()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket)
        return;
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();

    // Several requests may arrive on one keep-alive connection.
    for (;;) {
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        Request req;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        req.method = first.value(0);
        const QByteArray target = first.value(1);
        const int q = target.indexOf('?');
        req.path = q < 0 ? target : target.left(q);
        req.query = q < 0 ? QByteArray() : target.mid(q + 1);
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const int colon = line.indexOf(':');
            if (colon > 0)
                req.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        const int length = req.headers.value("content-length").toInt();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        req.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);
        m_requests.append(req);
        emit requestReceived(req.path);
        respond(socket, req);
    }
}

void TestHttpServer::respond(QTcpSocket *socket, const Request &req)
{
    Response resp;
    const auto it = m_routes.constFind(req.path);
    if (it != m_routes.constEnd()) {
        resp = it.value()(req);
    } else {
        resp.status = 404;
        resp.body = "not found";
        resp.contentType = "text/plain";
    }

    QPointer<QTcpSocket> guard(socket);
    auto send = [guard, resp]() {
        if (!guard)
            return;
        if (resp.closeWithoutReply) {
            guard->abort();
            return;
        }
        QByteArray out = "HTTP/1.1 " + QByteArray::number(resp.status) + " Status\r\n";
        out += "Content-Type: " + resp.contentType + "\r\n";
        out += "Content-Length: " + QByteArray::number(resp.body.size()) + "\r\n";
        out += "Cache-Control: no-store\r\n";
        for (const auto &h : resp.headers)
            out += h.first + ": " + h.second + "\r\n";
        out += "\r\n";
        out += resp.body;
        guard->write(out);
        guard->flush();
    };
    if (resp.delayMs > 0)
        QTimer::singleShot(resp.delayMs, this, send);
    else
        send();
}
