#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// Loopback HTTP server for download tests: every request gets an attachment
// of `size` bytes of which only `firstPart` is sent at once; the rest waits
// for sendRest(), or the connection is cut with abortAll(), after which the
// file is gone (404), so the engine cannot resume it.
class StallingDownloadServer : public QObject
{
    Q_OBJECT
public:
    StallingDownloadServer(QByteArray body, qint64 firstPart, QObject *parent = nullptr);

    bool listen();
    QUrl url(const QString &fileName) const;
    void sendRest();
    void abortAll();
    int requestCount() const { return m_requests; }

private:
    void onNewConnection();

    QTcpServer m_server;
    QByteArray m_body;
    qint64 m_firstPart;
    QList<QPointer<QTcpSocket>> m_sockets;
    int m_requests = 0;
    bool m_refusing = false;
};
