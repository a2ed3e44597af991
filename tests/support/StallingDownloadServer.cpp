#include "StallingDownloadServer.h"

#include <QTcpSocket>

StallingDownloadServer::StallingDownloadServer(QByteArray body, qint64 firstPart, QObject *parent)
    : QObject(parent)
    , m_body(std::move(body))
    , m_firstPart(firstPart)
{
    connect(&m_server, &QTcpServer::newConnection, this, &StallingDownloadServer::onNewConnection);
}

bool StallingDownloadServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl StallingDownloadServer::url(const QString &fileName) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(m_server.serverPort()).arg(fileName));
}

void StallingDownloadServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        m_sockets.append(socket);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            const QByteArray data = socket->property("buffer").toByteArray() + socket->readAll();
            socket->setProperty("buffer", data);
            if (!data.contains("\r\n\r\n") || socket->property("answered").toBool())
                return;
            socket->setProperty("answered", true);
            ++m_requests;
            if (m_refusing) {
                socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
                return;
            }
            const QByteArray name = data.split(' ').value(1).mid(1);
            QByteArray head = "HTTP/1.1 200 OK\r\n"
                              "Content-Type: application/octet-stream\r\n"
                              "Content-Disposition: attachment; filename=\"" + name + "\"\r\n"
                              "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n"
                              "Cache-Control: no-store\r\n\r\n";
            socket->write(head + m_body.left(m_firstPart));
            socket->flush();
        });
    }
}

void StallingDownloadServer::sendRest()
{
    for (const auto &socket : std::as_const(m_sockets)) {
        if (socket && socket->property("answered").toBool()) {
            socket->write(m_body.mid(m_firstPart));
            socket->flush();
        }
    }
}

void StallingDownloadServer::abortAll()
{
    m_refusing = true;
    for (const auto &socket : std::as_const(m_sockets)) {
        if (socket)
            socket->abort();
    }
}
