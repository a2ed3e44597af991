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

using namespace Qt::StringLiterals;

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

// Owns the namespaces and what runs in them; the destructor tears all down.
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
        serverNs = u"orvex-rt-s-"_s + tag;
        clientNs = u"orvex-rt-c-"_s + tag;
        serverIface = u"ovxs"_s + tag;
        ip = QStandardPaths::findExecutable(u"ip"_s, {u"/usr/sbin"_s, u"/sbin"_s});
        if (ip.isEmpty())
            ip = QStandardPaths::findExecutable(u"ip"_s);
        wg = QStandardPaths::findExecutable(u"wg"_s);
        wgQuick = QStandardPaths::findExecutable(u"wg-quick"_s);
        bash = QStandardPaths::findExecutable(u"bash"_s);
    }
    ~NetnsLab() { tearDown(); }

    QString missingTool() const
    {
        for (const QString &tool : {ip, wg, wgQuick, bash, QStandardPaths::findExecutable(u"wireguard-go"_s)})
            if (tool.isEmpty())
                return u"ip, wg, wg-quick, bash or wireguard-go"_s;
        return QFile::exists(u"/dev/net/tun"_s) ? QString() : u"/dev/net/tun"_s;
    }

    Result inNs(const QString &ns, const QStringList &command)
    {
        return run(ip, words(u"netns exec "_s + ns) + command);
    }

    bool step(const Result &r, const char *what)
    {
        if (r.exitCode == 0)
            return true;
        error = QLatin1String(what) + u": "_s + QString::fromLocal8Bit(r.output);
        return false;
    }

    bool setUp()
    {
        made = true;
        // Stand-ins so wg-quick leaves the host's DNS alone and needs no
        // firewall tool inside the throwaway namespace.
        QDir(dir.path()).mkpath(u"shim"_s);
        for (const char *tool : {"resolvconf", "nft", "iptables-restore"})
            script(u"shim/"_s + QLatin1String(tool), "exit 0\n");

        const QString server = u"-n "_s + serverNs, client = u"-n "_s + clientNs;
        for (const QString &command : {u"netns add "_s + serverNs, u"netns add "_s + clientNs,
                                       server + u" link add veth0 type veth peer name veth1 netns "_s + clientNs,
                                       server + u" addr add 198.18.0.1/24 dev veth0"_s,
                                       client + u" addr add 198.18.0.2/24 dev veth1"_s,
                                       server + u" link set lo up"_s, server + u" link set veth0 up"_s,
                                       client + u" link set lo up"_s, client + u" link set veth1 up"_s})
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
            error = u"wg genkey/pubkey failed"_s;
            return false;
        }
        const QString serverConf = dir.path() + QLatin1Char('/') + serverIface + u".conf"_s;
        if (!writeFile(serverConf, QStringLiteral("[Interface]\nPrivateKey = %1\nAddress = 198.19.0.1/24\nListenPort = 51820\n\n"
                                                  "[Peer]\nPublicKey = %2\nAllowedIPs = 198.19.0.2/32\n")
                                       .arg(serverPrivate, clientPublic).toLatin1(),
                       QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return false;
        return step(run(wgQuickWrapper(serverNs), {u"up"_s, serverConf}), "server wg-quick up");
    }

    QString script(const QString &name, const QByteArray &body)
    {
        const QString path = dir.path() + QLatin1Char('/') + name;
        writeFile(path, "#!/bin/sh\n" + body, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path;
    }
    // Runs wg-quick inside ns, with the userspace implementation.
    QString wgQuickWrapper(const QString &ns)
    {
        return script(u"wg-quick-"_s + ns,
                      QStringLiteral("exec '%1' netns exec '%2' env PATH='%3/shim':\"$PATH\" "
                                     "WG_QUICK_USERSPACE_IMPLEMENTATION=wireguard-go "
                                     "WG_I_PREFER_BUGGY_USERSPACE_TO_POLISHED_KMOD=1 '%4' \"$@\"\n")
                          .arg(ip, ns, dir.path(), wgQuick).toLocal8Bit());
    }
    QString ipWrapper(const QString &ns)
    {
        return script(u"ip-"_s + ns, u"exec '%1' netns exec '%2' '%1' \"$@\"\n"_s.arg(ip, ns).toLocal8Bit());
    }

    // For failure messages.
    QByteArray clientState()
    {
        return run(ip, words(u"-n %1 link show"_s.arg(clientNs))).output
               + "processes: " + run(ip, words(u"netns pids "_s + clientNs)).output.replace('\n', ' ');
    }

    void tearDown()
    {
        if (!made)
            return;
        made = false;
        for (const QString &ns : {clientNs, serverNs}) {
            // Only the userspace daemons in our own namespaces.
            const QList<QByteArray> pids = run(ip, words(u"netns pids "_s + ns)).output.split('\n');
            for (const QByteArray &pid : pids) {
                bool ok = false;
                const int n = pid.trimmed().toInt(&ok);
                if (ok && n > 1)
                    ::kill(n, SIGTERM);
            }
            run(ip, words(u"netns del "_s + ns));
        }
    }

private:
    bool made = false;
};

QStringList hostLinks(const QString &ip)
{
    QStringList names;
    const QList<QByteArray> lines = run(ip, words(u"-o link show"_s)).output.split('\n');
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
            QSKIP(qPrintable(missing + u" is missing (install wireguard-tools, wireguard-go, iproute2)"_s));
    }
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }
    void cleanupTestCase() { lab.reset(); }

    void generatedConfigurationBringsUpAWorkingTunnel()
    {
        const QStringList hostBefore = hostLinks(lab->ip);
        QVERIFY2(lab->setUp(), qPrintable(lab->error));

        const QString id = u"t"_s + QString::number(::getpid() % 10000000);
        const QString iface = u"orvex_"_s + id;
        VPNManager::Tools tools;
        tools.ip = lab->ipWrapper(lab->clientNs);
        tools.wgQuick = lab->wgQuickWrapper(lab->clientNs);
        // pkill would reach every process of the host: not in this test.
        tools.pkill = lab->script(u"pkill"_s, "exit 0\n");
        tools.openvpn = lab->script(u"openvpn"_s, "exit 0\n");
        tools.tempFolder = lab->dir.path() + u"/tmp"_s;
        QDir().mkpath(tools.tempFolder);

        VPNManager vpn(tools);
        const QJsonObject server{{u"id"_s, id}, {u"name"_s, u"Lab 1"_s}, {u"country"_s, u"Iceland"_s},
                                 {u"address"_s, u"198.18.0.1"_s}, {u"flag"_s, u"*"_s}, {u"public_key"_s, lab->serverPublic}};
        vpn.setStoredKeys({{u"wireguard"_s, QJsonObject{{u"private_key"_s, lab->clientPrivate}, {u"client_ip"_s, u"198.19.0.2"_s}}},
                           {u"available_servers"_s, QJsonArray{server}}});
        QSignalSpy status(&vpn, &VPNManager::statusChanged);
        QSignalSpy errors(&vpn, &VPNManager::connectionError);
        vpn.connectToCountry(u"iceland"_s);
        QCOMPARE(errors.size(), 0);
        QTRY_VERIFY2_WITH_TIMEOUT(vpn.isConnected(), lab->clientState().constData(), 15000);
        QCOMPARE(vpn.interfaceName(), iface);
        QCOMPARE(status.first().at(0).toBool(), true);

        // Traffic into the tunnel completes a handshake with the peer.
        bool handshake = false;
        for (int i = 0; i < 20 && !handshake; ++i) {
            lab->inNs(lab->clientNs, {lab->bash, u"-c"_s, u"echo x > /dev/udp/198.19.0.1/9"_s});
            const QByteArray out = lab->inNs(lab->clientNs, {lab->wg, u"show"_s, iface, u"latest-handshakes"_s}).output;
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
        const Result link = run(lab->ip, words(u"-n %1 link show %2"_s.arg(lab->clientNs, iface)));
        QVERIFY2(link.exitCode != 0, link.output.constData());
        QVERIFY(!QFile::exists(u"/var/run/wireguard/"_s + iface + u".sock"_s));

        QCOMPARE(hostLinks(lab->ip), hostBefore);
    }
};

QTEST_GUILESS_MAIN(TestRealTunnel)
#include "tst_realtunnel.moc"
