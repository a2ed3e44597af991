#pragma once

#include "TunnelState.h"
#include "TunnelTool.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

class QProcess;
class QTimer;

// Brings VPN tunnels up and down with the system's own tools and watches the
// network interfaces to tell whether a tunnel is up. Also keeps the account's
// WireGuard keys and server list and writes per-server configurations.
//
// Only what this browser brought up is ever taken down: the OpenVPN it
// started (by the pid it wrote) and the WireGuard configurations it brought
// up, recorded in a TunnelState that outlives the browser. Tools run one at a
// time, through pkexec when we are not root, and every failure is reported
// through connectionError().
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

    // The programs run and the folders used. An empty tempFolder means
    // QStandardPaths::TempLocation at the time of use (per-server
    // configurations); an empty runtimeFolder means
    // TunnelState::defaultFolder() at construction (pid file, state, copies).
    struct Tools {
        QString ip = QStringLiteral("ip");
        QString openvpn = QStringLiteral("openvpn");
        QString wgQuick = QStringLiteral("wg-quick");
        QString kill = QStringLiteral("kill");
        QString pkexec = QStringLiteral("pkexec");
        QString tempFolder;
        QString runtimeFolder;
    };

    explicit VPNManager(QObject *parent = nullptr);
    explicit VPNManager(const Tools &tools, QObject *parent = nullptr);
    ~VPNManager() override;

    // A tunnel is up, as confirmed by the probes: a drop counts once a
    // second probe about dropConfirmMs later still finds no tunnel.
    bool isConnected() const { return connected; }
    // Pages may reach the network: off from the first probe that finds no
    // tunnel, and at once on disconnectVPN().
    bool isTrafficAllowed() const { return trafficAllowed; }
    QString interfaceName() const { return currentInterface; }
    QMap<QString, QVariant> getStats() const { return stats; }

    // type "openvpn" or "wireguard"; anything else does nothing. A tunnel of
    // ours that is up is taken down first.
    void connectVPN(const QString &configPath, const QString &type);
    // Takes down what this browser brought up, even in an earlier run;
    // a tunnel it did not start is left alone and the user told so.
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
    // Also re-reads the state from the (possibly new) runtime folder.
    void setTools(const Tools &tools);
    QString tempFolder() const;
    QString runtimeFolder() const { return state.folder(); }
    // Tools that need root go through pkexec unless this is true (default:
    // the effective user is root).
    void setRunsAsRoot(bool root) { asRoot = root; }
    bool runsAsRoot() const { return asRoot; }
    // A probe running longer than this is killed (default 10 s).
    void setProbeTimeout(int ms) { probeTimeoutMs = ms; }
    // A tool running longer than this is killed (default 30 s; through
    // pkexec the password prompt gets passwordPromptMs more).
    void setCommandTimeout(int ms) { commandTimeoutMs = ms; }
    bool isProbeRunning() const { return probeProcess != nullptr; }
    // A tool run is going on or waiting.
    bool isBusy() const { return stepActive || !steps.isEmpty(); }
    // Tunnels of ours are being taken down (probes wait meanwhile).
    bool isDisconnecting() const;
    // Something of ours is recorded as up.
    bool hasOwnTunnel() const { return !state.isEmpty(); }

    // Pure decisions, public for tests.
    // Reads `ip -details -json link show`: the first tun or WireGuard
    // interface that is up (name holding "tun" and state UP, or the flags
    // POINTOPOINT, UP and LOWER_UP). Other kinds never count.
    static ProbeResult parseIpLink(const QByteArray &json);
    // Index of the first server whose country or name contains text
    // (case-insensitive), or -1.
    static int findServerForCountry(const QList<VPNServer> &servers, const QString &text);
    static VPNServer serverFromJson(const QJsonObject &object);

    static constexpr int statusIntervalMs = 2000;
    static constexpr int firstProbeTimeoutMs = 3000;
    static constexpr int dropConfirmMs = 1000;
    static constexpr int passwordPromptMs = 180000;

signals:
    void statusChanged(bool connected);
    void trafficAllowedChanged(bool allowed);
    void statsUpdated(const QMap<QString, QVariant> &stats);
    void keysUpdated(const QJsonObject &keys);
    // A failure, ready to show ("Could not connect: ..."); tool text in it
    // is plain text.
    void connectionError(const QString &message);
    // Something the user should know that is no failure.
    void tunnelNotice(const QString &message);
    // After each asynchronous probe has been applied (or dropped); for tests
    // and listeners that want to know a probe happened.
    void probeFinished();

public slots:
    void checkVPNStatus();

private:
    struct Step {
        enum Kind { TakeDown, Up, WireGuardDown, OpenVpnEnd };
        Kind kind = Up;
        QString config;
        QString type;
        bool forConnect = false; // a take-down that makes way for a connect
    };

    ProbeResult probeSynchronously();
    void onProbeDone(QProcess *process, quint64 generation, qint64 startedAt);
    void applyProbe(const ProbeResult &result, qint64 startedAt = -1);
    void setTraffic(bool allowed);
    void turnOff();

    void runNextStep();
    bool startStep(const Step &step); // false when it finished at once
    void stepDone();
    bool startUp(const Step &step);
    bool startWireGuard(const QString &configPath);
    bool startOpenVpn(const QString &configPath);
    void endTakeDown();
    void forgetOpenVpn();
    void saveState();
    void runTool(const QString &program, const QStringList &arguments,
                 std::function<void(const TunnelTool::Outcome &)> done);
    void waitFor(std::function<bool()> condition, int timeoutMs, std::function<void(bool met)> done);
    void fail(const QString &message);
    void takeDownFailed(const QString &detail);
    QString logTail() const;
    void removeQueued(Step::Kind kind);

    QList<VPNServer> servers;
    QJsonObject storedKeys;
    QTimer *statusTimer = nullptr;
    bool connected = false;
    bool trafficAllowed = false;
    QString currentInterface;
    QMap<QString, QVariant> stats;

    Tools m_tools;
    TunnelState state;
    bool asRoot = false;
    QProcess *probeProcess = nullptr;
    QTimer *probeKillTimer = nullptr;
    quint64 probeGeneration = 0;
    int probeTimeoutMs = 10000;
    int commandTimeoutMs = 30000;
    QElapsedTimer clock;
    qint64 dropSeenAt = -1; // when a probe first found the tunnel gone
    QTimer *dropConfirmTimer = nullptr;

    // Tool runs, one at a time, in order.
    QList<Step> steps;
    Step currentStep;
    bool stepActive = false;
    // The take-down going on: whether it is for a connect, whether a part
    // failed (then nothing is brought up after it), whether it ended
    // anything, and whether a tunnel was up when the user asked.
    struct {
        bool active = false;
        bool forConnect = false;
        bool failed = false;
        bool endedSomething = false;
        bool tunnelWasUp = false;
    } takeDown;
    bool lastTakeDownFailed = false;
    bool lastTakeDownForConnect = false;
    bool tunnelUpWhenAsked = false;
    // An OpenVPN we started that has not shown a tunnel yet: if it dies
    // first, its log says why.
    bool watchingOpenVpn = false;
    class QNetworkAccessManager *fetchManager = nullptr;
};
