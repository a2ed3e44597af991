#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariant>

class QTimer;

// Brings VPN tunnels up and down with the system's own tools and watches the
// network interfaces to tell whether a tunnel is up. Also keeps the account's
// WireGuard keys and server list and writes per-server configurations.
//
// Every tool runs asynchronously, except one bounded probe in the constructor
// so that whoever restores a session right after construction sees the real
// state.
class VPNManager : public QObject
{
    Q_OBJECT
public:
    struct VPNServer {
        QString id;
        QString name;
        QString country;
        QString address;
        QString flag;
        QString publicKey;
    };

    struct ProbeResult {
        bool up = false;
        QString interfaceName;
    };

    // The programs run and the folder for per-server configurations. An
    // empty tempFolder means QStandardPaths::TempLocation at the time of use.
    struct Tools {
        QString ip = QStringLiteral("ip");
        QString openvpn = QStringLiteral("openvpn");
        QString wgQuick = QStringLiteral("wg-quick");
        QString pkill = QStringLiteral("pkill");
        QString tempFolder;
    };

    explicit VPNManager(QObject *parent = nullptr);
    explicit VPNManager(const Tools &tools, QObject *parent = nullptr);
    ~VPNManager() override;

    bool isConnected() const { return connected; }
    QString interfaceName() const { return currentInterface; }
    QMap<QString, QVariant> getStats() const { return stats; }

    void connectVPN(const QString &configPath, const QString &type);
    void disconnectVPN();
    // One synchronous probe, bounded by firstProbeTimeoutMs; the constructor
    // uses it. Everything else goes through checkVPNStatus().
    bool checkSystemVPN();

    void setStoredKeys(const QJsonObject &keys);
    QJsonObject getStoredKeys() const { return storedKeys; }
    void setServerList(const QJsonArray &servers);
    QList<VPNServer> serverList() const { return servers; }
    void connectToCountry(const QString &country);
    bool generateConfigForServer(const VPNServer &server, QString &configPath);
    void fetchKeys(const QString &token);

    Tools tools() const { return m_tools; }
    void setTools(const Tools &tools) { m_tools = tools; }
    QString tempFolder() const;
    // A probe running longer than this is killed (default 10 s).
    void setProbeTimeout(int ms) { probeTimeoutMs = ms; }
    // A disconnect command running longer than this is killed (default 30 s).
    void setCommandTimeout(int ms) { commandTimeoutMs = ms; }
    bool isProbeRunning() const { return probeProcess != nullptr; }
    bool isDisconnecting() const { return !pendingCommands.isEmpty() || commandProcess; }

    // Pure decisions, public for tests.
    static ProbeResult parseIpLinkShow(const QString &output);
    // Index of the first server whose country or name contains text
    // (case-insensitive), or -1.
    static int findServerForCountry(const QList<VPNServer> &servers, const QString &text);
    static VPNServer serverFromJson(const QJsonObject &object);

    static constexpr int statusIntervalMs = 2000;
    static constexpr int firstProbeTimeoutMs = 3000;

signals:
    void statusChanged(bool connected);
    void statsUpdated(const QMap<QString, QVariant> &stats);
    void keysUpdated(const QJsonObject &keys);
    void connectionError(const QString &message);
    // After each asynchronous probe has been applied (or dropped); for tests
    // and listeners that want to know a probe happened.
    void probeFinished();

public slots:
    void checkVPNStatus();
    void onVPNProcessFinished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    struct Command {
        QString program;
        QStringList arguments;
        bool bringsUp = false;
    };

    ProbeResult probeSynchronously();
    void applyProbe(const ProbeResult &result);
    void onProbeDone(QProcess *process, quint64 generation);
    void startTunnelTool(const Command &command);
    void runNextCommand();
    void onCommandDone(QProcess *process);
    void releaseProcess(QProcess *process);

    QList<VPNServer> servers;
    QJsonObject storedKeys;
    QProcess *vpnProcess = nullptr;
    QTimer *statusTimer = nullptr;
    bool connected = false;
    QString currentInterface;
    QMap<QString, QVariant> stats;

    Tools m_tools;
    QProcess *probeProcess = nullptr;
    QTimer *probeKillTimer = nullptr;
    quint64 probeGeneration = 0;
    int probeTimeoutMs = 10000;
    int commandTimeoutMs = 30000;
    // WireGuard configurations brought up since the last disconnect.
    QStringList wireGuardConfigsUp;
    // Disconnect commands still to run, in order, and the one running.
    QList<Command> pendingCommands;
    QProcess *commandProcess = nullptr;
    QTimer *commandKillTimer = nullptr;
    class QNetworkAccessManager *fetchManager = nullptr;
};
