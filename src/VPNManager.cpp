#include "VPNManager.h"

#include "AccountSyncManager.h"
#include "PrivateConfigFile.h"
#include "ServiceEndpoints.h"
#include "WireGuardConfig.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <unistd.h>

namespace {
constexpr int pollMs = 50;
constexpr int pidWaitMs = 5000;       // openvpn's daemon writes its pid right after the fork
constexpr qint64 maxConfigBytes = 1024 * 1024;

QStringList probeArguments()
{
    return {QStringLiteral("-details"), QStringLiteral("-json"), QStringLiteral("link"), QStringLiteral("show")};
}

QString notOurs()
{
    return QStringLiteral("This tunnel was not started by OrvexBrowser");
}

// The kernel's rule (at most 15 bytes, no "/", ":" or blank), and nothing
// unprintable: the name is shown to the user.
bool isPlainInterfaceName(const QString &name)
{
    if (name.isEmpty() || name.toUtf8().size() > 15 || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char(':') || !c.isPrint())
            return false;
    }
    return true;
}

// wg-quick down of a configuration whose interface is gone already.
bool isAlreadyDown(const QString &output)
{
    return output.contains(QLatin1String("is not a WireGuard interface")) || output.contains(QLatin1String("does not exist"));
}
}

VPNManager::VPNManager(QObject *parent)
    : VPNManager(Tools(), parent)
{
}

VPNManager::VPNManager(const Tools &tools, QObject *parent)
    : QObject(parent)
    , m_tools(tools)
    , state(tools.runtimeFolder)
    , asRoot(::geteuid() == 0)
{
    clock.start();
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
    dropConfirmTimer = new QTimer(this);
    dropConfirmTimer->setSingleShot(true);
    dropConfirmTimer->setInterval(dropConfirmMs);
    connect(dropConfirmTimer, &QTimer::timeout, this, &VPNManager::checkVPNStatus);

    state.load();
    applyProbe(probeSynchronously());
}

VPNManager::~VPNManager()
{
    // The probe dies with us (SIGKILL is reaped at once, the wait only
    // collects it); tool runs end in TunnelTool's destructor. Tunnels stay up.
    if (probeProcess) {
        disconnect(probeProcess, nullptr, this, nullptr);
        probeProcess->kill();
        probeProcess->waitForFinished(1000);
    }
}

void VPNManager::setTools(const Tools &tools)
{
    m_tools = tools;
    state = TunnelState(tools.runtimeFolder);
    state.load();
}

QString VPNManager::tempFolder() const
{
    return m_tools.tempFolder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::TempLocation)
                                        : m_tools.tempFolder;
}

bool VPNManager::isDisconnecting() const
{
    if (takeDown.active)
        return true;
    return std::any_of(steps.cbegin(), steps.cend(), [](const Step &s) { return s.kind != Step::Up; });
}

// ---- Interface probe -------------------------------------------------------

VPNManager::ProbeResult VPNManager::parseIpLink(const QByteArray &json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    const QJsonArray links = doc.array();
    for (const QJsonValue &value : links) {
        const QJsonObject link = value.toObject();
        const QString kind = link.value(QLatin1String("linkinfo")).toObject().value(QLatin1String("info_kind")).toString();
        // ppp, wwan, veth, vxlan... may be up and point-to-point, but traffic
        // through them leaves unprotected.
        if (kind != QLatin1String("tun") && kind != QLatin1String("wireguard"))
            continue;
        const QString name = link.value(QLatin1String("ifname")).toString();
        if (!isPlainInterfaceName(name))
            continue;
        QStringList flags;
        for (const QJsonValue &flag : link.value(QLatin1String("flags")).toArray())
            flags.append(flag.toString());
        // OpenVPN's tun and WireGuard report "state UNKNOWN", so the flags decide.
        const bool up = (name.contains(QLatin1String("tun")) && link.value(QLatin1String("operstate")).toString() == QLatin1String("UP"))
                        || (flags.contains(QLatin1String("POINTOPOINT")) && flags.contains(QLatin1String("UP"))
                            && flags.contains(QLatin1String("LOWER_UP")));
        if (up)
            return {true, name};
    }
    return {};
}

VPNManager::ProbeResult VPNManager::probeSynchronously()
{
    const QString ip = TunnelTool::findProgram(m_tools.ip);
    if (ip.isEmpty())
        return {};
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(ip, probeArguments());
    if (!process.waitForStarted(firstProbeTimeoutMs))
        return {};
    if (!process.waitForFinished(firstProbeTimeoutMs)) {
        qDebug() << "VPNManager: First interface probe timed out";
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return parseIpLink(process.readAllStandardOutput());
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
    const qint64 startedAt = clock.elapsed();
    connect(process, &QProcess::finished, this,
            [this, process, generation, startedAt] { onProbeDone(process, generation, startedAt); });
    connect(process, &QProcess::errorOccurred, this, [this, process, generation, startedAt](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onProbeDone(process, generation, startedAt);
    });
    probeKillTimer->start(probeTimeoutMs);
    process->setStandardErrorFile(QProcess::nullDevice());
    const QString ip = TunnelTool::findProgram(m_tools.ip);
    process->start(ip.isEmpty() ? m_tools.ip : ip, probeArguments());
}

void VPNManager::onProbeDone(QProcess *process, quint64 generation, qint64 startedAt)
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
            applyProbe({}, startedAt);
        else if (process->exitStatus() == QProcess::NormalExit)
            applyProbe(parseIpLink(process->readAllStandardOutput()), startedAt);
    }
    emit probeFinished();
}

void VPNManager::applyProbe(const ProbeResult &result, qint64 startedAt)
{
    if (result.up) {
        dropSeenAt = -1;
        dropConfirmTimer->stop();
        watchingOpenVpn = false;
        const bool was = connected;
        currentInterface = result.interfaceName;
        connected = true;
        setTraffic(true);
        if (!was)
            emit statusChanged(true);
        stats.insert(QStringLiteral("connected"), true);
        stats.insert(QStringLiteral("interface"), currentInterface);
        emit statsUpdated(stats);
        return;
    }

    if (watchingOpenVpn && state.openVpnStarted
        && !TunnelState::isOurOpenVpn(TunnelState::readPid(state.pidFilePath()), state.pidFilePath())) {
        watchingOpenVpn = false;
        state.openVpnStarted = false;
        state.save();
        const QString log = logTail();
        fail(QStringLiteral("Could not connect: ")
             + (log.isEmpty() ? QStringLiteral("OpenVPN ended before the tunnel came up.") : log));
    }

    // Requests stop at once; the window gives up the page only once a second
    // probe confirms the drop, so a tunnel that blinks (an OpenVPN
    // reconnect) costs nothing.
    setTraffic(false);
    if (!connected)
        return;
    if (dropSeenAt < 0) {
        dropSeenAt = clock.elapsed();
        dropConfirmTimer->start();
        return;
    }
    if (startedAt >= 0 && startedAt - dropSeenAt < dropConfirmMs / 2) {
        if (!dropConfirmTimer->isActive())
            dropConfirmTimer->start();
        return;
    }
    dropSeenAt = -1;
    dropConfirmTimer->stop();
    connected = false;
    currentInterface.clear();
    emit statusChanged(false);
}

void VPNManager::setTraffic(bool allowed)
{
    if (trafficAllowed == allowed)
        return;
    trafficAllowed = allowed;
    emit trafficAllowedChanged(allowed);
}

void VPNManager::turnOff()
{
    ++probeGeneration;
    dropSeenAt = -1;
    dropConfirmTimer->stop();
    setTraffic(false);
    connected = false;
    currentInterface.clear();
    stats.clear();
    emit statusChanged(false);
}

// ---- Bringing tunnels up and down ------------------------------------------

void VPNManager::removeQueued(Step::Kind kind)
{
    steps.erase(std::remove_if(steps.begin(), steps.end(), [kind](const Step &s) { return s.kind == kind; }), steps.end());
}

void VPNManager::connectVPN(const QString &configPath, const QString &type)
{
    if (type != QLatin1String("openvpn") && type != QLatin1String("wireguard"))
        return;
    // The newest choice wins over one still waiting.
    removeQueued(Step::Up);
    // Never two of ours at once: what is up, or still coming up, goes down
    // first (the tool of an earlier connect has long exited by now).
    const bool upRunning = stepActive && currentStep.kind == Step::Up;
    if ((!state.isEmpty() || upRunning) && !isDisconnecting())
        steps.append({Step::TakeDown, {}, {}, true});
    steps.append({Step::Up, configPath, type, false});
    runNextStep();
}

void VPNManager::disconnectVPN()
{
    removeQueued(Step::Up);
    const bool upRunning = stepActive && currentStep.kind == Step::Up;
    if (state.isEmpty() && !upRunning && !isDisconnecting()) {
        if (connected) {
            fail(notOurs());
            return;
        }
        turnOff();
        return;
    }
    if (takeDown.active) {
        takeDown.forConnect = false;
    } else if (isDisconnecting()) {
        for (Step &step : steps)
            step.forConnect = false;
    } else {
        steps.append({Step::TakeDown, {}, {}, false});
    }
    tunnelUpWhenAsked = connected;
    turnOff();
    runNextStep();
}

void VPNManager::runNextStep()
{
    while (!stepActive && !steps.isEmpty()) {
        const Step step = steps.takeFirst();
        if (startStep(step)) {
            stepActive = true;
            currentStep = step;
        }
    }
    if (stepActive)
        return;
    if (takeDown.active)
        endTakeDown();
    lastTakeDownFailed = false;
    // Probes were held back while tunnels went down.
    checkVPNStatus();
}

void VPNManager::stepDone()
{
    stepActive = false;
    runNextStep();
}

bool VPNManager::startStep(const Step &step)
{
    switch (step.kind) {
    case Step::TakeDown: {
        takeDown = {};
        takeDown.active = true;
        takeDown.forConnect = step.forConnect;
        takeDown.tunnelWasUp = step.forConnect ? false : tunnelUpWhenAsked;
        if (step.forConnect)
            turnOff();
        // Newest first, each by what it was brought up with.
        QList<Step> downs;
        for (auto it = state.wireGuard.crbegin(); it != state.wireGuard.crend(); ++it)
            downs.append({Step::WireGuardDown, it->config, {}, step.forConnect});
        if (state.openVpnStarted)
            downs.append({Step::OpenVpnEnd, {}, {}, step.forConnect});
        steps = downs + steps;
        return false;
    }
    case Step::Up:
        if (takeDown.active)
            endTakeDown();
        if (lastTakeDownFailed) {
            // A second tunnel of ours would stack. A take-down made for this
            // connect has said so already.
            lastTakeDownFailed = false;
            if (!lastTakeDownForConnect)
                fail(QStringLiteral("Could not connect: the tunnel that is up could not be taken down first."));
            return false;
        }
        return startUp(step);
    case Step::WireGuardDown:
        runTool(m_tools.wgQuick, {QStringLiteral("down"), step.config}, [this, step](const TunnelTool::Outcome &outcome) {
            const bool gone = outcome.result == TunnelTool::Result::Succeeded
                              || (outcome.result == TunnelTool::Result::Failed && isAlreadyDown(outcome.output));
            if (gone) {
                for (int i = int(state.wireGuard.size()) - 1; i >= 0; --i) {
                    if (state.wireGuard.at(i).config != step.config)
                        continue;
                    if (state.wireGuard.at(i).copied)
                        QFile::remove(step.config);
                    state.wireGuard.removeAt(i);
                }
                saveState();
                if (outcome.result == TunnelTool::Result::Succeeded)
                    takeDown.endedSomething = true;
            } else {
                takeDownFailed(outcome.detail);
            }
            stepDone();
        });
        return true;
    case Step::OpenVpnEnd: {
        const QString pidFile = state.pidFilePath();
        const pid_t pid = TunnelState::readPid(pidFile);
        if (!TunnelState::isOurOpenVpn(pid, pidFile)) {
            // Ended outside the browser, or the pid belongs to someone else now.
            forgetOpenVpn();
            return false;
        }
        runTool(m_tools.kill, {QStringLiteral("-TERM"), QString::number(pid)}, [this, pid](const TunnelTool::Outcome &outcome) {
            if (outcome.result != TunnelTool::Result::Succeeded && TunnelState::isAlive(pid)) {
                takeDownFailed(outcome.detail);
                stepDone();
                return;
            }
            // OpenVPN takes its routes down before it exits.
            waitFor([pid] { return !TunnelState::isAlive(pid); }, commandTimeoutMs, [this, pid](bool ended) {
                if (ended) {
                    forgetOpenVpn();
                    takeDown.endedSomething = true;
                } else {
                    takeDownFailed(QStringLiteral("OpenVPN (process %1) did not end.").arg(pid));
                }
                stepDone();
            });
        });
        return true;
    }
    }
    return false;
}

void VPNManager::endTakeDown()
{
    takeDown.active = false;
    lastTakeDownFailed = takeDown.failed;
    lastTakeDownForConnect = takeDown.forConnect;
    // Nothing of ours was up: what the user saw is someone else's tunnel.
    if (!takeDown.failed && !takeDown.endedSomething && takeDown.tunnelWasUp)
        fail(notOurs());
}

void VPNManager::takeDownFailed(const QString &detail)
{
    takeDown.failed = true;
    fail((takeDown.forConnect ? QStringLiteral("Could not connect: the current tunnel could not be taken down: ")
                              : QStringLiteral("Could not disconnect: "))
         + detail);
}

void VPNManager::forgetOpenVpn()
{
    state.openVpnStarted = false;
    state.openVpnConfig.clear();
    watchingOpenVpn = false;
    QFile::remove(state.pidFilePath());
    saveState();
}

void VPNManager::saveState()
{
    if (!state.save())
        fail(QStringLiteral("The tunnel state could not be saved in %1; after a restart, Disconnect may not find "
                            "the tunnel this browser started.")
                 .arg(state.statePath()));
}

bool VPNManager::startUp(const Step &step)
{
    QString why;
    if (!state.ensureFolder(&why)) {
        fail(QStringLiteral("Could not connect: ") + why);
        return false;
    }
    if (step.type == QLatin1String("wireguard"))
        return startWireGuard(step.config);
    return startOpenVpn(step.config);
}

bool VPNManager::startWireGuard(const QString &configPath)
{
    QString path = configPath;
    QString name = WireGuardConfig::interfaceNameForFile(path);
    bool copied = false;
    if (name.isEmpty()) {
        // wg-quick takes the interface name from the file name and refuses
        // this one: bring up a private copy under a name it takes.
        const QString fileName = QFileInfo(configPath).fileName();
        name = WireGuardConfig::usableInterfaceName(fileName);
        QFile source(configPath);
        if (!source.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("Could not connect: could not read %1: %2").arg(configPath, source.errorString()));
            return false;
        }
        const QByteArray bytes = source.read(maxConfigBytes + 1);
        if (bytes.size() > maxConfigBytes) {
            fail(QStringLiteral("Could not connect: %1 is too large for a WireGuard configuration.").arg(configPath));
            return false;
        }
        path = state.folder() + QLatin1Char('/') + name + QStringLiteral(".conf");
        if (!PrivateConfigFile::write(path, bytes)) {
            fail(QStringLiteral("Could not connect: could not copy %1 to %2.").arg(configPath, path));
            return false;
        }
        copied = true;
        emit tunnelNotice(QStringLiteral("wg-quick cannot name an interface after \"%1\": the tunnel comes up as "
                                         "interface \"%2\".")
                              .arg(fileName, name));
    }
    runTool(m_tools.wgQuick, {QStringLiteral("up"), path}, [this, path, name, copied](const TunnelTool::Outcome &outcome) {
        if (outcome.result == TunnelTool::Result::Succeeded) {
            state.wireGuard.append({path, name, copied});
            saveState();
        } else {
            if (copied)
                QFile::remove(path);
            fail(QStringLiteral("Could not connect: ") + outcome.detail);
        }
        stepDone();
    });
    QTimer::singleShot(2000, this, &VPNManager::checkVPNStatus);
    return true;
}

bool VPNManager::startOpenVpn(const QString &configPath)
{
    // Files of ours, 0600, that openvpn (maybe as root) writes into.
    const QString pidFile = state.pidFilePath(), log = state.logPath();
    for (const QString &path : {pidFile, log}) {
        if (!PrivateConfigFile::write(path, QByteArray()) && !(QFile::remove(path) && PrivateConfigFile::write(path, QByteArray()))) {
            fail(QStringLiteral("Could not connect: could not create %1.").arg(path));
            return false;
        }
    }
    const QStringList arguments{QStringLiteral("--config"), configPath, QStringLiteral("--daemon"),
                                QStringLiteral("--writepid"), pidFile, QStringLiteral("--log"), log};
    runTool(m_tools.openvpn, arguments, [this, configPath, pidFile](const TunnelTool::Outcome &outcome) {
        if (outcome.result != TunnelTool::Result::Succeeded) {
            // Errors in the file come before --log takes over; later ones are in the log.
            const QString log = logTail();
            fail(QStringLiteral("Could not connect: ")
                 + (outcome.output.isEmpty() && !log.isEmpty() ? outcome.detail + QLatin1Char('\n') + log : outcome.detail));
            stepDone();
            return;
        }
        waitFor([pidFile] { return TunnelState::readPid(pidFile) != 0; }, pidWaitMs, [this, configPath, pidFile](bool) {
            if (TunnelState::isOurOpenVpn(TunnelState::readPid(pidFile), pidFile)) {
                state.openVpnStarted = true;
                state.openVpnConfig = configPath;
                watchingOpenVpn = true;
                saveState();
            } else {
                const QString log = logTail();
                fail(QStringLiteral("Could not connect: ")
                     + (log.isEmpty() ? QStringLiteral("OpenVPN ended before the tunnel came up.") : log));
            }
            stepDone();
        });
    });
    QTimer::singleShot(2000, this, &VPNManager::checkVPNStatus);
    return true;
}

void VPNManager::runTool(const QString &program, const QStringList &arguments,
                         std::function<void(const TunnelTool::Outcome &)> done)
{
    auto *run = new TunnelTool(this);
    const TunnelTool::Invocation invocation = TunnelTool::invocation(program, arguments, asRoot, m_tools.pkexec);
    connect(run, &TunnelTool::finished, this, [run, done](const TunnelTool::Outcome &outcome) {
        run->deleteLater();
        done(outcome);
    });
    run->start(invocation, commandTimeoutMs + (invocation.viaPkexec ? passwordPromptMs : 0),
               state.ensureFolder() ? state.folder() : QString());
}

void VPNManager::waitFor(std::function<bool()> condition, int timeoutMs, std::function<void(bool)> done)
{
    auto *timer = new QTimer(this);
    QElapsedTimer waited;
    waited.start();
    connect(timer, &QTimer::timeout, this, [timer, waited, condition, timeoutMs, done] {
        const bool met = condition();
        if (!met && waited.elapsed() < timeoutMs)
            return;
        timer->deleteLater();
        timer->stop();
        done(met);
    });
    timer->start(pollMs);
}

void VPNManager::fail(const QString &message)
{
    qDebug() << "VPNManager:" << message;
    emit connectionError(message);
}

QString VPNManager::logTail() const
{
    QFile f(state.logPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    if (f.size() > 16 * 1024)
        f.seek(f.size() - 16 * 1024);
    return TunnelTool::lastLines(f.readAll());
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
