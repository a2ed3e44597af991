#include "TestHttpServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

TestHttpServer::TestHttpServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

void TestHttpServer::abortConnections()
{
    // Sockets are children of m_server; the handlers they call must not run any more.
    const auto sockets = m_server.findChildren<QTcpSocket *>();
    for (QTcpSocket *socket : sockets) {
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        socket->deleteLater();
    }
    m_buffers.clear();
}

void TestHttpServer::setPage(const QByteArray &path, const QByteArray &body, const QByteArray &contentType, int status)
{
    route(path, [=](const Request &) { return Response{status, contentType, body, {}}; });
}

int TestHttpServer::requestCount(const QByteArray &path) const
{
    return int(std::count_if(m_requests.cbegin(), m_requests.cend(), [&](const Request &r) { return r.path == path; }));
}

void TestHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    // Several requests may arrive on one keep-alive connection.
    for (int headerEnd; (headerEnd = buffer.indexOf("\r\n\r\n")) >= 0;) {
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        const QByteArray target = first.value(1);
        const int q = target.indexOf('?');
        Request req{first.value(0), q < 0 ? target : target.left(q), q < 0 ? QByteArray() : target.mid(q + 1), {}, {}};
        for (const QByteArray &line : lines.mid(1)) {
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
        respond(socket, req);
    }
}

void TestHttpServer::respond(QTcpSocket *socket, const Request &req)
{
    const auto it = m_routes.constFind(req.path);
    const Response resp = it != m_routes.constEnd() ? it.value()(req) : Response{404, "text/plain", "not found", {}};
    auto send = [guard = QPointer<QTcpSocket>(socket), resp] {
        if (!guard)
            return;
        QByteArray out = "HTTP/1.1 " + QByteArray::number(resp.status) + " Status\r\nContent-Type: " + resp.contentType
            + "\r\nContent-Length: " + QByteArray::number(resp.body.size()) + "\r\nCache-Control: no-store\r\n";
        for (const auto &h : resp.headers)
            out += h.first + ": " + h.second + "\r\n";
        guard->write(out + "\r\n" + resp.body.left(resp.stallAt < 0 ? resp.body.size() : resp.stallAt));
        guard->flush();
    };
    if (resp.delayMs > 0)
        QTimer::singleShot(resp.delayMs, this, send);
    else
        send();
}
