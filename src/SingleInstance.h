#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QStringList>

#include <optional>

class QLocalServer;
class QLocalSocket;

// One browser per user and data folder. The first start listens on a local
// socket in a private folder (0700); a later start hands its addresses to it
// and exits. The other end is not trusted: messages are size-capped, framed
// and time-limited, and anything malformed is dropped.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Handover { Delivered, NoneRunning, NotResponding };

    static constexpr int MaxMessageBytes = 1024 * 1024;
    static constexpr int MaxUrls = 500;

    explicit SingleInstance(const QString &socketPath, QObject *parent = nullptr);
    ~SingleInstance() override;

    // "$XDG_RUNTIME_DIR/orvexbrowser/<user>-<hash of the data folder>.sock",
    // or the same name in "/tmp/orvexbrowser-<uid>" when the runtime folder
    // is missing or not private. Empty when no private folder can be had.
    static QString defaultSocketPath(const QString &dataFolder);
    // Creates `path` as a folder only we can enter, or checks that it is one
    // (ours, 0700, not a link). False when it is not safe to use.
    static bool ensurePrivateFolder(const QString &path);

    QString socketPath() const { return m_path; }
    // Hands the addresses to a running instance (bounded by timeoutMs).
    Handover sendToRunning(const QStringList &urls, int timeoutMs = 1000);
    // Listens for later starts, replacing a socket left behind by a crash.
    bool listen();
    bool isListening() const;

    // The wire form: "ORVEX1 <length>\n" then a JSON array of strings.
    static QByteArray encode(const QStringList &urls);
    // Parses one complete message; nullopt for anything malformed.
    static std::optional<QStringList> decode(const QByteArray &message);
    // How many bytes the message starting in `buffer` needs in all, 0 while
    // the header is incomplete, -1 when it can never be valid.
    static qint64 expectedSize(const QByteArray &buffer);

Q_SIGNALS:
    void urlsReceived(const QStringList &urls);

private:
    void onNewConnection();
    void onReadyRead(QLocalSocket *socket);

    QString m_path;
    QLocalServer *m_server = nullptr;
    QHash<QLocalSocket *, QByteArray> m_buffers;
};
