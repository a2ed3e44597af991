#include "SingleInstance.h"

#include "PrivateFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QByteArray kMagic = QByteArrayLiteral("ORVEX1 ");
const QByteArray kAck = QByteArrayLiteral("OK\n");
constexpr int kPeerTimeoutMs = 2000;

QString userName()
{
    if (const passwd *pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(::geteuid());
}
}

SingleInstance::SingleInstance(const QString &socketPath, QObject *parent)
    : QObject(parent)
    , m_path(socketPath)
{
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

bool SingleInstance::ensurePrivateFolder(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0)
        return false;
    // Someone else's folder, or a link planted in a shared folder, is not ours.
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & 0777) != 0700 && ::chmod(native.constData(), 0700) != 0)
        return false;
    return true;
}

QString SingleInstance::defaultSocketPath(const QString &dataFolder)
{
    const QByteArray hash = QCryptographicHash::hash(QDir::cleanPath(dataFolder).toUtf8(), QCryptographicHash::Sha256)
                                .toHex()
                                .left(12);
    const QString name = userName() + QLatin1Char('-') + QString::fromLatin1(hash) + QStringLiteral(".sock");
    // Every start must find the same place: the runtime folder, or a folder
    // of a fixed name in /tmp (never a fresh random one).
    QStringList folders;
    const QString runtime = PrivateFolder::locate(qEnvironmentVariable("XDG_RUNTIME_DIR"), QString());
    if (!runtime.isEmpty())
        folders << runtime;
    const QString uid = QString::number(::geteuid());
    folders << QDir::tempPath() + QStringLiteral("/orvexbrowser-") + uid << QStringLiteral("/tmp/orvexbrowser-") + uid;
    for (const QString &folder : std::as_const(folders)) {
        // A socket's address holds at most 107 bytes.
        if (QFile::encodeName(folder + QLatin1Char('/') + name).size() > 100)
            continue;
        if (folder == runtime || ensurePrivateFolder(folder))
            return folder + QLatin1Char('/') + name;
    }
    return QString();
}

QByteArray SingleInstance::encode(const QStringList &urls)
{
    const QByteArray body = QJsonDocument(QJsonArray::fromStringList(urls)).toJson(QJsonDocument::Compact);
    return kMagic + QByteArray::number(body.size()) + '\n' + body;
}

qint64 SingleInstance::expectedSize(const QByteArray &buffer)
{
    const qsizetype probe = qMin<qsizetype>(buffer.size(), kMagic.size());
    if (buffer.left(probe) != kMagic.left(probe))
        return -1;
    const qsizetype newline = buffer.indexOf('\n');
    if (newline < 0)
        return buffer.size() > kMagic.size() + 10 ? -1 : 0;
    bool ok = false;
    const QByteArray digits = buffer.mid(kMagic.size(), newline - kMagic.size());
    const qint64 length = digits.toLongLong(&ok);
    if (!ok || digits.isEmpty() || digits.size() > 10 || length < 0 || length > MaxMessageBytes)
        return -1;
    return newline + 1 + length;
}

std::optional<QStringList> SingleInstance::decode(const QByteArray &message)
{
    const qint64 size = expectedSize(message);
    if (size <= 0 || size != message.size())
        return std::nullopt;
    const QByteArray body = message.mid(message.indexOf('\n') + 1);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray() || doc.array().size() > MaxUrls)
        return std::nullopt;
    QStringList urls;
    for (const QJsonValue &value : doc.array()) {
        if (!value.isString())
            return std::nullopt;
        urls.append(value.toString());
    }
    return urls;
}

SingleInstance::Handover SingleInstance::sendToRunning(const QStringList &urls, int timeoutMs)
{
    if (m_path.isEmpty())
        return Handover::NoneRunning;
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(timeoutMs))
        return Handover::NoneRunning;
    socket.write(encode(urls));
    if (!socket.waitForBytesWritten(timeoutMs))
        return Handover::NotResponding;
    QByteArray reply;
    while (reply.size() < kAck.size() && socket.waitForReadyRead(timeoutMs))
        reply += socket.readAll();
    return reply.startsWith(kAck) ? Handover::Delivered : Handover::NotResponding;
}

bool SingleInstance::listen()
{
    if (m_path.isEmpty())
        return false;
    if (!m_server) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    }
    if (m_server->listen(m_path))
        return true;
    // Taken: by a browser that started meanwhile (keep it), or left behind
    // by a crash (nobody answers: replace it).
    QLocalSocket probe;
    probe.connectToServer(m_path);
    if (probe.waitForConnected(200))
        return false;
    QLocalServer::removeServer(m_path);
    return m_server->listen(m_path);
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        m_buffers.insert(socket, QByteArray());
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_buffers.remove(socket); });
        // A peer that connects and says nothing is not waited for.
        QTimer::singleShot(kPeerTimeoutMs, socket, [socket] { socket->abort(); socket->deleteLater(); });
    }
}

void SingleInstance::onReadyRead(QLocalSocket *socket)
{
    auto it = m_buffers.find(socket);
    if (it == m_buffers.end())
        return;
    it->append(socket->read(MaxMessageBytes + 64 - it->size()));
    const qint64 needed = expectedSize(*it);
    if (needed < 0 || (needed > 0 && it->size() > needed)) {
        m_buffers.erase(it);
        socket->abort();
        socket->deleteLater();
        return;
    }
    if (needed == 0 || it->size() < needed)
        return;
    const std::optional<QStringList> urls = decode(*it);
    m_buffers.erase(it);
    if (!urls) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->write(kAck);
    socket->flush();
    socket->disconnectFromServer();
    emit urlsReceived(*urls);
}
