#include "VPNManager.h"

#include "AccountSyncManager.h"
#include "PrivateConfigFile.h"
#include "ServiceEndpoints.h"
#include "WireGuardConfig.h"

#include <QDebug>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

VPNManager::VPNManager(QObject *parent)
    : VPNManager(Tools(), parent)
{
}

VPNManager::VPNManager(const Tools &tools, QObject *parent)
    : QObject(parent)
    , m_tools(tools)
{
    statusTimer = new QTimer(this);
    connect(statusTimer, &QTimer::timeout, this, &VPNManager::checkVPNStatus);
    statusTimer->start(statusIntervalMs);

    probeKillTimer = new QTimer(this);
    probeKillTimer->setSingleShot(true);
    connect(probeKillTimer, &QTimer::timeout, this, [this] {
        if (probeProcess) {
            qDebug() << "VPNManager: Interface probe timed out, killing it";
            probeProcess->kill();
        }
    });
    commandKillTimer = new QTimer(this);
    commandKillTimer->setSingleShot(true);
    connect(commandKillTimer, &QTimer::timeout, this, [this] {
        if (commandProcess) {
            qDebug() << "VPNManager: Command timed out, killing" << commandProcess->program();
            commandProcess->kill();
        }
    });

    applyProbe(probeSynchronously());
}

VPNManager::~VPNManager()
{
    // Tool processes die with us; the tunnel stays up. SIGKILL is reaped at
    // once, so the short waits only collect the exit status.
    const QList<QProcess *> processes = findChildren<QProcess *>();
    for (QProcess *p : processes) {
        disconnect(p, nullptr, this, nullptr);
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(1000);
        }
    }
}

QString VPNManager::tempFolder() const
{
    return m_tools.tempFolder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::TempLocation)
                                        : m_tools.tempFolder;
}

// ---- Interface probe -------------------------------------------------------

VPNManager::ProbeResult VPNManager::parseIpLinkShow(const QString &output)
{
    // "<index>: <name>[@<link>]: <FLAG,FLAG,...> ... state <STATE> ..."
    static const QRegularExpression flagsOf(QStringLiteral("^\\s*\\d+:[^:<>]+:\\s*<([A-Z0-9_,-]*)>"));
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        bool tunnel = line.contains(QLatin1String("tun")) && line.contains(QLatin1String("state UP"));
        if (!tunnel) {
            // Point-to-point links with carrier: OpenVPN's tun and WireGuard
            // report "state UNKNOWN", so the flags decide.
            const QRegularExpressionMatch m = flagsOf.match(line);
            if (m.hasMatch()) {
                const QStringList flags = m.captured(1).split(QLatin1Char(','));
                tunnel = flags.contains(QLatin1String("POINTOPOINT")) && flags.contains(QLatin1String("UP"))
                         && flags.contains(QLatin1String("LOWER_UP"));
            }
        }
        if (!tunnel)
            continue;
        const QStringList pieces = line.split(QLatin1Char(':'));
        if (pieces.size() < 2)
            continue;
        // Any blank ends the name (simplified() makes every kind a space).
        QString name = pieces.at(1).simplified().section(QLatin1Char(' '), 0, 0);
        const int at = name.indexOf(QLatin1Char('@'));
        if (at >= 0)
            name.truncate(at);
        if (name.isEmpty())
            continue;
        return {true, name};
    }
    return {};
}

VPNManager::ProbeResult VPNManager::probeSynchronously()
{
    QProcess process;
    process.start(m_tools.ip, {QStringLiteral("link"), QStringLiteral("show")});
    if (!process.waitForStarted(firstProbeTimeoutMs))
        return {};
    if (!process.waitForFinished(firstProbeTimeoutMs)) {
        qDebug() << "VPNManager: First interface probe timed out";
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return parseIpLinkShow(QString::fromUtf8(process.readAllStandardOutput()));
}

bool VPNManager::checkSystemVPN()
{
    const ProbeResult result = probeSynchronously();
    if (result.up)
        currentInterface = result.interfaceName;
    return result.up;
}

void VPNManager::checkVPNStatus()
{
    // One probe at a time: a hung `ip` must not pile up processes. While
    // tunnels are being taken down the answer would be stale anyway.
    if (probeProcess || isDisconnecting())
        return;
    auto *process = new QProcess(this);
    probeProcess = process;
    const quint64 generation = probeGeneration;
    connect(process, &QProcess::finished, this, [this, process, generation] { onProbeDone(process, generation); });
    connect(process, &QProcess::errorOccurred, this, [this, process, generation](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onProbeDone(process, generation);
    });
    probeKillTimer->start(probeTimeoutMs);
    process->start(m_tools.ip, {QStringLiteral("link"), QStringLiteral("show")});
}

void VPNManager::onProbeDone(QProcess *process, quint64 generation)
{
    if (process != probeProcess)
        return;
    probeProcess = nullptr;
    probeKillTimer->stop();
    process->deleteLater();

    // A missing `ip` finds no tunnel; a killed or crashed one tells nothing;
    // a probe started before a disconnect is out of date.
    if (generation == probeGeneration) {
        if (process->error() == QProcess::FailedToStart)
            applyProbe({});
        else if (process->exitStatus() == QProcess::NormalExit)
            applyProbe(parseIpLinkShow(QString::fromUtf8(process->readAllStandardOutput())));
    }
    emit probeFinished();
}

void VPNManager::applyProbe(const ProbeResult &result)
{
    const bool old = connected;
    connected = result.up;
    if (connected)
        currentInterface = result.interfaceName;
    else
        currentInterface.clear();
    if (connected != old)
        emit statusChanged(connected);
    if (connected) {
        stats.insert(QStringLiteral("connected"), true);
        stats.insert(QStringLiteral("interface"), currentInterface);
        emit statsUpdated(stats);
    }
}

// ---- Bringing tunnels up and down ------------------------------------------

void VPNManager::connectVPN(const QString &configPath, const QString &type)
{
    if (vpnProcess)
        disconnectVPN();

    Command command;
    command.bringsUp = true;
    if (type == QLatin1String("openvpn")) {
        command.program = m_tools.openvpn;
        command.arguments = {QStringLiteral("--config"), configPath, QStringLiteral("--daemon")};
    } else if (type == QLatin1String("wireguard")) {
        command.program = m_tools.wgQuick;
        command.arguments = {QStringLiteral("up"), configPath};
        if (!wireGuardConfigsUp.contains(configPath))
            wireGuardConfigsUp.append(configPath);
    } else {
        return;
    }
    // After a disconnect still in progress, or its `pkill` would hit the new
    // tunnel's process.
    if (isDisconnecting())
        pendingCommands.append(command);
    else
        startTunnelTool(command);
}

void VPNManager::startTunnelTool(const Command &command)
{
    auto *process = new QProcess(this);
    vpnProcess = process;
    connect(process, &QProcess::finished, this, &VPNManager::onVPNProcessFinished);
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || process != vpnProcess)
            return;
        qDebug() << "VPNManager: Could not start" << process->program();
        vpnProcess = nullptr;
        process->deleteLater();
        checkVPNStatus();
    });
    // Daemons started by the tool (openvpn --daemon, wireguard-go) inherit
    // its output; a pipe nobody reads would block them or, once closed,
    // kill them with SIGPIPE.
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(command.program, command.arguments);
    QTimer::singleShot(2000, this, &VPNManager::checkVPNStatus);
}

void VPNManager::onVPNProcessFinished(int, QProcess::ExitStatus)
{
    auto *process = qobject_cast<QProcess *>(sender());
    if (process && process == vpnProcess) {
        vpnProcess = nullptr;
        process->deleteLater();
    }
    checkVPNStatus();
}

void VPNManager::disconnectVPN()
{
    if (vpnProcess) {
        releaseProcess(vpnProcess);
        vpnProcess = nullptr;
    }
    pendingCommands.erase(std::remove_if(pendingCommands.begin(), pendingCommands.end(),
                                         [](const Command &c) { return c.bringsUp; }),
                          pendingCommands.end());

    // Only what this browser brought up: the exact process name, and the
    // WireGuard configurations it started (newest first).
    pendingCommands.append({m_tools.pkill, {QStringLiteral("-x"), QStringLiteral("openvpn")}, false});
    for (auto it = wireGuardConfigsUp.crbegin(); it != wireGuardConfigsUp.crend(); ++it)
        pendingCommands.append({m_tools.wgQuick, {QStringLiteral("down"), *it}, false});
    wireGuardConfigsUp.clear();

    ++probeGeneration;
    connected = false;
    currentInterface.clear();
    stats.clear();
    emit statusChanged(false);
    runNextCommand();
}

void VPNManager::runNextCommand()
{
    if (commandProcess)
        return;
    while (!pendingCommands.isEmpty() && pendingCommands.first().bringsUp) {
        const Command up = pendingCommands.takeFirst();
        startTunnelTool(up);
    }
    if (pendingCommands.isEmpty()) {
        // Probes were held back while tunnels went down.
        checkVPNStatus();
        return;
    }
    const Command command = pendingCommands.takeFirst();
    auto *process = new QProcess(this);
    commandProcess = process;
    connect(process, &QProcess::finished, this, [this, process] { onCommandDone(process); });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onCommandDone(process);
    });
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    commandKillTimer->start(commandTimeoutMs);
    process->start(command.program, command.arguments);
}

void VPNManager::onCommandDone(QProcess *process)
{
    if (process != commandProcess)
        return;
    commandProcess = nullptr;
    commandKillTimer->stop();
    process->deleteLater();
    runNextCommand();
}

void VPNManager::releaseProcess(QProcess *process)
{
    disconnect(process, nullptr, this, nullptr);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->kill();
}

// ---- Keys, servers, configurations -----------------------------------------

VPNManager::VPNServer VPNManager::serverFromJson(const QJsonObject &object)
{
    auto text = [&object](const char *key) { return object.value(QLatin1String(key)).toString(); };
    return {text("id"), text("name"), text("country"), text("address"), text("flag"), text("public_key")};
}

void VPNManager::setStoredKeys(const QJsonObject &keys)
{
    storedKeys = keys;
    if (keys.contains(QLatin1String("available_servers")))
        setServerList(keys.value(QLatin1String("available_servers")).toArray());
}

void VPNManager::setServerList(const QJsonArray &list)
{
    servers.clear();
    for (const QJsonValue &value : list)
        servers.append(serverFromJson(value.toObject()));
    qDebug() << "VPNManager: Updated server list with" << servers.size() << "servers";
}

int VPNManager::findServerForCountry(const QList<VPNServer> &list, const QString &text)
{
    for (int i = 0; i < list.size(); ++i) {
        if (list.at(i).country.contains(text, Qt::CaseInsensitive) || list.at(i).name.contains(text, Qt::CaseInsensitive))
            return i;
    }
    return -1;
}

void VPNManager::connectToCountry(const QString &country)
{
    qDebug() << "VPNManager: Connecting to country:" << country;
    int index = findServerForCountry(servers, country);
    if (index < 0 && servers.isEmpty()) {
        qDebug() << "VPNManager: No servers available";
        emit connectionError(QStringLiteral("No servers available. Please sync keys."));
        return;
    }
    if (index < 0) {
        qDebug() << "VPNManager: Server not found, defaulting to first";
        index = 0;
    }
    QString configPath;
    if (generateConfigForServer(servers.at(index), configPath)) {
        connectVPN(configPath, QStringLiteral("wireguard"));
    } else {
        qDebug() << "VPNManager: Config generation failed";
        emit connectionError(QStringLiteral("Failed to generate configuration."));
    }
}

bool VPNManager::generateConfigForServer(const VPNServer &server, QString &configPath)
{
    if (!storedKeys.contains(QLatin1String("wireguard")))
        return false;
    const QJsonObject wireguard = storedKeys.value(QLatin1String("wireguard")).toObject();
    const QString privateKey = wireguard.value(QLatin1String("private_key")).toString();
    const QString clientIp = wireguard.value(QLatin1String("client_ip")).toString();
    if (server.address.isEmpty()) {
        qDebug() << "VPNManager: Server address missing for" << server.name;
        return false;
    }
    if (server.publicKey.isEmpty()) {
        qDebug() << "VPNManager: Server public key missing for" << server.name;
        return false;
    }
    // The id becomes a file name and an interface name.
    if (!WireGuardConfig::isValidServerId(server.id)) {
        qDebug() << "VPNManager: Unusable server id for" << server.name;
        return false;
    }
    const std::optional<QString> text = WireGuardConfig::forServer(privateKey, clientIp, server.publicKey, server.address);
    if (!text) {
        qDebug() << "VPNManager: Unsafe configuration values for" << server.name;
        return false;
    }
    const QString path = tempFolder() + QStringLiteral("/orvex_") + server.id + QStringLiteral(".conf");
    if (!PrivateConfigFile::write(path, text->toUtf8())) {
        qDebug() << "VPNManager: Could not write" << path;
        return false;
    }
    configPath = path;
    return true;
}

void VPNManager::fetchKeys(const QString &token)
{
    if (!AccountSyncManager::isUsableToken(token)) {
        qDebug() << "Failed to fetch VPN keys: no usable token";
        return;
    }
    if (!fetchManager)
        fetchManager = new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(ServiceEndpoints::accountUrl() + QStringLiteral("/api/vpn/keys")));
    request.setHeader(QNetworkRequest::CookieHeader,
                      QVariant::fromValue(QList<QNetworkCookie>{QNetworkCookie("session_token", token.toUtf8())}));
    QNetworkReply *reply = fetchManager->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) {
            qDebug() << "Failed to fetch VPN keys:" << reply->errorString();
            return;
        }
        const QJsonObject object = QJsonDocument::fromJson(reply->readAll()).object();
        emit keysUpdated(object);
        setStoredKeys(object);
    });
}
