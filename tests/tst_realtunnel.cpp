#include "VPNManager.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <csignal>
#include <unistd.h>

// A real WireGuard tunnel between two network namespaces made for this test:
// a peer in one, and in the other the configuration this system generates,
// brought up and down by VPNManager. The host's own namespace is never
// touched.
namespace {
struct Result {
    int exitCode = -1;
    QByteArray output;
};

Result run(const QString &program, const QStringList &args, const QByteArray &input = QByteArray(), int timeoutMs = 10000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(timeoutMs))
        return {};
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll()};
}

// Splits a command line at blanks (no argument here holds one).
QStringList words(const QString &line) { return line.split(QLatin1Char(' '), Qt::SkipEmptyParts); }

bool writeFile(const QString &path, const QByteArray &body, QFileDevice::Permissions permissions)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.setPermissions(permissions) && f.write(body) == body.size();
}

// Owns the namespaces and everything started in them; tears all down on
// destruction, whatever state the test left.
class NetnsLab
{
public:
    QString ip, wg, wgQuick, bash;
    QString serverNs, clientNs, serverIface;
    QTemporaryDir dir;
    QString serverPublic, clientPrivate;
    QString error;

    NetnsLab()
    {
        const QString tag = QString::number(::getpid());
        serverNs = QStringLiteral("orvex-rt-s-") + tag;
        clientNs = QStringLiteral("orvex-rt-c-") + tag;
        serverIface = QStringLiteral("ovxs") + tag;
        ip = QStandardPaths::findExecutable(QStringLiteral("ip"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        if (ip.isEmpty())
            ip = QStandardPaths::findExecutable(QStringLiteral("ip"));
        wg = QStandardPaths::findExecutable(QStringLiteral("wg"));
        wgQuick = QStandardPaths::findExecutable(QStringLiteral("wg-quick"));
        bash = QStandardPaths::findExecutable(QStringLiteral("bash"));
    }
    ~NetnsLab() { tearDown(); }

    QString missingTool() const
    {
        if (ip.isEmpty()) return QStringLiteral("ip");
        if (wg.isEmpty()) return QStringLiteral("wg");
        if (wgQuick.isEmpty()) return QStringLiteral("wg-quick");
        if (bash.isEmpty()) return QStringLiteral("bash");
        if (QStandardPaths::findExecutable(QStringLiteral("wireguard-go")).isEmpty()) return QStringLiteral("wireguard-go");
        if (!QFile::exists(QStringLiteral("/dev/net/tun"))) return QStringLiteral("/dev/net/tun");
        return {};
    }

    Result inNs(const QString &ns, const QStringList &command)
    {
        return run(ip, words(QStringLiteral("netns exec ") + ns) + command);
    }

    bool step(const Result &r, const char *what)
    {
        if (r.exitCode == 0)
            return true;
        error = QLatin1String(what) + QStringLiteral(": ") + QString::fromLocal8Bit(r.output);
        return false;
    }

    bool setUp()
    {
        made = true;
        // Stand-ins so wg-quick leaves the host's DNS alone and needs no
        // firewall tool inside the throwaway namespace.
        QDir(dir.path()).mkpath(QStringLiteral("shim"));
        for (const char *tool : {"resolvconf", "nft", "iptables-restore"})
            script(QStringLiteral("shim/") + QLatin1String(tool), "exit 0\n");

        const QString server = QStringLiteral("-n ") + serverNs, client = QStringLiteral("-n ") + clientNs;
        for (const QString &command : {QStringLiteral("netns add ") + serverNs, QStringLiteral("netns add ") + clientNs,
                                       server + QStringLiteral(" link add veth0 type veth peer name veth1 netns ") + clientNs,
                                       server + QStringLiteral(" addr add 198.18.0.1/24 dev veth0"),
                                       client + QStringLiteral(" addr add 198.18.0.2/24 dev veth1"),
                                       server + QStringLiteral(" link set lo up"), server + QStringLiteral(" link set veth0 up"),
                                       client + QStringLiteral(" link set lo up"), client + QStringLiteral(" link set veth1 up")})
            if (!step(run(ip, words(command)), qPrintable(command)))
                return false;

        auto wgOut = [this](const char *command, const QString &key = {}) {
            const QByteArray input = key.isEmpty() ? QByteArray() : key.toLatin1() + '\n';
            return QString::fromLatin1(run(wg, {QLatin1String(command)}, input).output.trimmed());
        };
        const QString serverPrivate = wgOut("genkey");
        serverPublic = wgOut("pubkey", serverPrivate);
        clientPrivate = wgOut("genkey");
        const QString clientPublic = wgOut("pubkey", clientPrivate);
        if (serverPublic.size() != 44 || clientPublic.size() != 44) {
            error = QStringLiteral("wg genkey/pubkey failed");
            return false;
        }
        const QString serverConf = dir.path() + QLatin1Char('/') + serverIface + QStringLiteral(".conf");
        if (!writeFile(serverConf, QStringLiteral("[Interface]\nPrivateKey = %1\nAddress = 198.19.0.1/24\nListenPort = 51820\n\n"
                                                  "[Peer]\nPublicKey = %2\nAllowedIPs = 198.19.0.2/32\n")
                                       .arg(serverPrivate, clientPublic).toLatin1(),
                       QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return false;
        return step(run(wgQuickWrapper(serverNs), {QStringLiteral("up"), serverConf}), "server wg-quick up");
    }

    // A shell script in the lab folder; returns its path.
    QString script(const QString &name, const QByteArray &body)
    {
        const QString path = dir.path() + QLatin1Char('/') + name;
        writeFile(path, "#!/bin/sh\n" + body, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path;
    }
    // Runs wg-quick inside ns, with the userspace implementation.
    QString wgQuickWrapper(const QString &ns)
    {
        return script(QStringLiteral("wg-quick-") + ns,
                      QStringLiteral("exec '%1' netns exec '%2' env PATH='%3/shim':\"$PATH\" "
                                     "WG_QUICK_USERSPACE_IMPLEMENTATION=wireguard-go "
                                     "WG_I_PREFER_BUGGY_USERSPACE_TO_POLISHED_KMOD=1 '%4' \"$@\"\n")
                          .arg(ip, ns, dir.path(), wgQuick).toLocal8Bit());
    }
    QString ipWrapper(const QString &ns)
    {
        return script(QStringLiteral("ip-") + ns, QStringLiteral("exec '%1' netns exec '%2' '%1' \"$@\"\n").arg(ip, ns).toLocal8Bit());
    }

    // What the client namespace looks like, for failure messages.
    QByteArray clientState()
    {
        return run(ip, words(QStringLiteral("-n %1 link show").arg(clientNs))).output
               + "processes: " + run(ip, words(QStringLiteral("netns pids ") + clientNs)).output.replace('\n', ' ');
    }

    void tearDown()
    {
        if (!made)
            return;
        made = false;
        for (const QString &ns : {clientNs, serverNs}) {
            // Only processes inside our own namespaces: the userspace
            // WireGuard daemons our wg-quick calls started.
            const QList<QByteArray> pids = run(ip, words(QStringLiteral("netns pids ") + ns)).output.split('\n');
            for (const QByteArray &pid : pids) {
                bool ok = false;
                const int n = pid.trimmed().toInt(&ok);
                if (ok && n > 1)
                    ::kill(n, SIGTERM);
            }
            run(ip, words(QStringLiteral("netns del ") + ns));
        }
    }

private:
    bool made = false;
};

QStringList hostLinks(const QString &ip)
{
    QStringList names;
    const QList<QByteArray> lines = run(ip, words(QStringLiteral("-o link show"))).output.split('\n');
    for (const QByteArray &l : lines)
        if (!l.trimmed().isEmpty())
            names << QString::fromLatin1(l.split(':').value(1).trimmed());
    return names;
}
}

class TestRealTunnel : public QObject
{
    Q_OBJECT
    std::unique_ptr<NetnsLab> lab;

private Q_SLOTS:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to create network namespaces");
        lab = std::make_unique<NetnsLab>();
        const QString missing = lab->missingTool();
        if (!missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is missing (install wireguard-tools, wireguard-go, iproute2)").arg(missing)));
    }
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }
    void cleanupTestCase() { lab.reset(); }

    void generatedConfigurationBringsUpAWorkingTunnel()
    {
        const QStringList hostBefore = hostLinks(lab->ip);
        QVERIFY2(lab->setUp(), qPrintable(lab->error));

        const QString id = QStringLiteral("t") + QString::number(::getpid() % 10000000);
        const QString iface = QStringLiteral("orvex_") + id;
        VPNManager::Tools tools;
        tools.ip = lab->ipWrapper(lab->clientNs);
        tools.wgQuick = lab->wgQuickWrapper(lab->clientNs);
        // pkill would reach every process of the host: not in this test.
        tools.pkill = lab->script(QStringLiteral("pkill"), "exit 0\n");
        tools.openvpn = lab->script(QStringLiteral("openvpn"), "exit 0\n");
        tools.tempFolder = lab->dir.path() + QStringLiteral("/tmp");
        QDir().mkpath(tools.tempFolder);

        VPNManager vpn(tools);
        QVERIFY(!vpn.isConnected());
        const QJsonObject server{{QStringLiteral("id"), id}, {QStringLiteral("name"), QStringLiteral("Lab 1")},
                                 {QStringLiteral("country"), QStringLiteral("Iceland")},
                                 {QStringLiteral("address"), QStringLiteral("198.18.0.1")},
                                 {QStringLiteral("flag"), QStringLiteral("*")},
                                 {QStringLiteral("public_key"), lab->serverPublic}};
        vpn.setStoredKeys({{QStringLiteral("wireguard"), QJsonObject{{QStringLiteral("private_key"), lab->clientPrivate},
                                                                     {QStringLiteral("client_ip"), QStringLiteral("198.19.0.2")}}},
                           {QStringLiteral("available_servers"), QJsonArray{server}}});
        QSignalSpy status(&vpn, &VPNManager::statusChanged);
        QSignalSpy errors(&vpn, &VPNManager::connectionError);
        vpn.connectToCountry(QStringLiteral("iceland"));
        QCOMPARE(errors.size(), 0);
        QTRY_VERIFY2_WITH_TIMEOUT(vpn.isConnected(), lab->clientState().constData(), 15000);
        QCOMPARE(vpn.interfaceName(), iface);
        QCOMPARE(status.first().at(0).toBool(), true);

        // Traffic into the tunnel completes a handshake with the peer.
        bool handshake = false;
        for (int i = 0; i < 20 && !handshake; ++i) {
            lab->inNs(lab->clientNs, {lab->bash, QStringLiteral("-c"), QStringLiteral("echo x > /dev/udp/198.19.0.1/9")});
            const QByteArray out = lab->inNs(lab->clientNs, {lab->wg, QStringLiteral("show"), iface, QStringLiteral("latest-handshakes")}).output;
            handshake = out.trimmed().split('\t').value(1).toLongLong() > 0;
            if (!handshake)
                QTest::qWait(250);
        }
        QVERIFY2(handshake, "no WireGuard handshake through the generated configuration");

        vpn.disconnectVPN();
        QCOMPARE(status.last().at(0).toBool(), false);
        QTRY_VERIFY_WITH_TIMEOUT(!vpn.isDisconnecting(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!vpn.isProbeRunning(), 10000);
        QVERIFY(!vpn.isConnected());
        const Result link = run(lab->ip, words(QStringLiteral("-n %1 link show %2").arg(lab->clientNs, iface)));
        QVERIFY2(link.exitCode != 0, link.output.constData());
        QVERIFY(!QFile::exists(QStringLiteral("/var/run/wireguard/") + iface + QStringLiteral(".sock")));

        QCOMPARE(hostLinks(lab->ip), hostBefore);
    }
};

QTEST_GUILESS_MAIN(TestRealTunnel)
#include "tst_realtunnel.moc"
