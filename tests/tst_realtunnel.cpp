#include "TunnelState.h"
#include "VPNManager.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Real tunnels between two network namespaces made for this test: a peer in
// one, and in the other what VPNManager brings up and down with the real
// tools. The host's own namespace is never touched. Every wait is on a
// condition (an interface, a handshake, a process), never a fixed time: the
// machine may be busy.
namespace {
using Result = std::pair<int, QByteArray>; // exit code (-1: did not finish), output

constexpr int Slow = 60000; // a step of wireguard-go or openvpn on a loaded machine

Result sh(const QString &script, const QStringList &args = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(u"bash"_s, QStringList{u"-c"_s, u"PATH=$PATH:/usr/sbin:/sbin\n"_s + script, u"sh"_s} + args);
    if (!p.waitForFinished(Slow)) {
        p.kill();
        p.waitForFinished(1000);
        return {-1, p.readAll()};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll()};
}

// $1 folder, $2 server namespace, $3 client namespace, $4 tag for names seen
// outside the namespaces (wireguard-go's sockets). Leaves in the folder the
// keys, stand-ins (so wg-quick leaves the host's DNS alone and needs no
// firewall tool) and wrappers that run wg-quick (userspace), openvpn and ip
// inside a namespace. The server namespace gets a WireGuard peer and an
// OpenVPN peer (static key, port 1194).
const auto SetUp = uR"sh(set -e
trap 'echo "set-up failed at: $BASH_COMMAND"' ERR
d=$1 s=$2 c=$3 ip=$(command -v ip)
mkdir -p "$d/shim" "$d/tmp" "$d/run"
printf '#!/bin/sh\n[ "$1" != -a ] || cat >/dev/null\n' > "$d/shim/resolvconf" # read all: wg-quick has pipefail
for f in shim/nft shim/iptables-restore; do printf '#!/bin/sh\nexit 0\n' > "$d/$f"; done
for n in $s $c; do
  printf '#!/bin/sh\nexec %s netns exec %s env PATH="%s:$PATH" WG_QUICK_USERSPACE_IMPLEMENTATION=wireguard-go WG_I_PREFER_BUGGY_USERSPACE_TO_POLISHED_KMOD=1 %s "$@"\n' \
    "$ip" $n "$d/shim" "$(command -v wg-quick)" > "$d/wg-quick-$n"
  printf '#!/bin/sh\nexec %s netns exec %s %s "$@"\n' "$ip" $n "$(command -v openvpn)" > "$d/openvpn-$n"
done
printf '#!/bin/sh\nexec %s netns exec %s %s "$@"\n' "$ip" $c "$ip" > "$d/ip-$c"
chmod 700 "$d"/shim/* "$d"/wg-quick-* "$d"/openvpn-* "$d"/ip-*
ip netns add $s; ip netns add $c
ip -n $s link add veth0 type veth peer name veth1 netns $c
ip -n $s addr add 198.18.0.1/24 dev veth0; ip -n $c addr add 198.18.0.2/24 dev veth1
ip -n $s link set veth0 up; ip -n $c link set veth1 up
for n in $s $c; do ip -n $n link set lo up; done
umask 077
for k in server client; do wg genkey > "$d/$k.key"; wg pubkey < "$d/$k.key" > "$d/$k.pub"; done
printf '[Interface]\nPrivateKey = %s\nAddress = 198.19.0.1/24\nListenPort = 51820\n\n[Peer]\nPublicKey = %s\nAllowedIPs = 198.19.0.2/32\n' \
  "$(cat "$d/server.key")" "$(cat "$d/client.pub")" > "$d/ovxs$4.conf"
"$d/wg-quick-$s" up "$d/ovxs$4.conf" 2>&1
openvpn --genkey secret "$d/static.key" 2>/dev/null
"$d/openvpn-$s" --dev tun0 --ifconfig 10.9.0.1 10.9.0.2 --secret "$d/static.key" --cipher AES-256-CBC \
  --lport 1194 --daemon --writepid "$d/server-openvpn.pid" --log "$d/server-openvpn.log"
printf 'dev tun\nifconfig 10.9.0.2 10.9.0.1\nremote 198.18.0.1 1194\nsecret %s\ncipher AES-256-CBC\nverb 3\n' \
  "$d/static.key" > "$d/client.ovpn")sh"_s;

// Owns the namespaces; the destructor takes them down with the daemons in
// them (only those, by their ids), whatever the test's outcome.
struct Lab {
    const QString tag = QString::number(::getpid());
    const QString serverNs = u"orvex-rt-s-"_s + tag, clientNs = u"orvex-rt-c-"_s + tag;
    QTemporaryDir dir;
    Result setUp;

    Lab() { setUp = sh(SetUp, {dir.path(), serverNs, clientNs, tag}); }
    ~Lab()
    {
        sh(u"for n in \"$@\"; do ip netns pids $n | xargs -r kill; done\n"
           "for i in $(seq 100); do [ -z \"$(for n in \"$@\"; do ip netns pids $n; done)\" ] && break; sleep 0.1; done\n"
           "for n in \"$@\"; do ip netns del $n; done"_s,
           {clientNs, serverNs});
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    QString read(const QString &name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().trimmed()) : QString();
    }
    QByteArray clientState() const { return sh(u"ip -n $1 link show; echo processes: $(ip netns pids $1)"_s, {clientNs}).second; }
    bool clientHas(const QString &interfaceName) const
    {
        return sh(u"ip -n $1 link show dev $2"_s, {clientNs, interfaceName}).first == 0;
    }
    VPNManager::Tools tools() const
    {
        VPNManager::Tools t;
        t.ip = path(u"ip-"_s + clientNs);
        t.wgQuick = path(u"wg-quick-"_s + clientNs);
        t.openvpn = path(u"openvpn-"_s + clientNs);
        t.tempFolder = path(u"tmp"_s);
        t.runtimeFolder = path(u"run"_s);
        return t;
    }
    // Sends into the tunnel until wg reports a handshake with the peer.
    bool handshake(const QString &interfaceName) const
    {
        return sh(u"ip netns exec $1 bash -c 'for i in $(seq 200); do echo x > /dev/udp/198.19.0.1/9;"
                  " [ \"$(wg show $0 latest-handshakes | cut -f2)\" -gt 0 ] && exit 0; sleep 0.25; done; exit 1' $2"_s,
                  {clientNs, interfaceName})
                   .first
               == 0;
    }
};

const auto HostLinks = u"ip -o link show | cut -d: -f2"_s;
}

class TestRealTunnel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to create network namespaces");
        const Result missing = sh(u"for t in ip wg wg-quick wireguard-go openvpn; do command -v $t >/dev/null || echo $t; done\n"
                                  "[ -e /dev/net/tun ] || echo /dev/net/tun"_s);
        if (missing.first != 0 || !missing.second.isEmpty())
            QSKIP(qPrintable(u"missing: "_s + QString::fromLocal8Bit(missing.second.simplified())
                             + u" (install bash, wireguard-tools, wireguard-go, openvpn, iproute2)"_s));
    }
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    // The generated configuration brings up a working tunnel; a browser
    // started later takes it down, and nothing else: a WireGuard interface
    // of someone else's stays.
    void generatedConfigurationBringsUpAWorkingTunnel()
    {
        const QByteArray hostBefore = sh(HostLinks).second;
        const Lab lab;
        QVERIFY2(lab.setUp.first == 0, lab.setUp.second.constData());

        const QString id = u"t"_s + lab.tag, iface = u"orvex_"_s + id;
        auto vpn = std::make_unique<VPNManager>(lab.tools());
        const QJsonObject server{{u"id"_s, id}, {u"name"_s, u"Lab 1"_s}, {u"country"_s, u"Iceland"_s},
                                 {u"address"_s, u"198.18.0.1"_s}, {u"flag"_s, u"*"_s}, {u"public_key"_s, lab.read(u"server.pub"_s)}};
        vpn->setStoredKeys({{u"wireguard"_s, QJsonObject{{u"private_key"_s, lab.read(u"client.key"_s)}, {u"client_ip"_s, u"198.19.0.2"_s}}},
                            {u"available_servers"_s, QJsonArray{server}}});
        QSignalSpy errors(vpn.get(), &VPNManager::connectionError);
        vpn->connectToCountry(u"iceland"_s);
        QTRY_VERIFY2_WITH_TIMEOUT(vpn->isConnected(), lab.clientState().constData(), Slow);
        QCOMPARE(vpn->interfaceName(), iface);
        QVERIFY2(lab.handshake(iface), "no WireGuard handshake through the generated configuration");
        QTRY_VERIFY_WITH_TIMEOUT(!vpn->isBusy(), Slow);
        QCOMPARE(errors.size(), 0);

        // Someone else's interface in the same namespace.
        const QString foreign = u"wgo"_s + lab.tag.right(8);
        QVERIFY(sh(u"ip netns exec $1 wireguard-go $2 && ip -n $1 link set $2 up"_s, {lab.clientNs, foreign}).first == 0);

        vpn = std::make_unique<VPNManager>(lab.tools()); // the browser restarted
        QVERIFY(vpn->isConnected() && vpn->hasOwnTunnel());
        vpn->disconnectVPN();
        QVERIFY(!vpn->isConnected() && !vpn->isTrafficAllowed());
        QTRY_VERIFY_WITH_TIMEOUT(!vpn->isBusy(), Slow);
        QTRY_VERIFY_WITH_TIMEOUT(!lab.clientHas(iface), Slow);
        // wireguard-go leaves once its interface is gone, taking its socket along.
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(u"/var/run/wireguard/"_s + iface + u".sock"_s), Slow);
        QVERIFY(lab.clientHas(foreign));
        QVERIFY(!vpn->hasOwnTunnel());
        QCOMPARE(sh(HostLinks).second, hostBefore);
    }

    // OpenVPN as a daemon with its pid file: after a restart of the browser,
    // Disconnect ends exactly that process; another OpenVPN of the machine
    // keeps running.
    void restartedBrowserEndsOnlyItsOwnOpenVpn()
    {
        const Lab lab;
        QVERIFY2(lab.setUp.first == 0, lab.setUp.second.constData());
        // Someone else's OpenVPN in the client namespace, on tun9.
        QVERIFY(sh(u"$1 --dev tun9 --ifconfig 10.10.0.2 10.10.0.1 --secret $2 --cipher AES-256-CBC --lport 1195 --rport 1196 "
                   "--remote 198.18.0.1 --daemon --writepid $3"_s,
                   {lab.path(u"openvpn-"_s + lab.clientNs), lab.path(u"static.key"_s), lab.path(u"other.pid"_s)})
                    .first
                == 0);
        QTRY_VERIFY_WITH_TIMEOUT(TunnelState::readPid(lab.path(u"other.pid"_s)) != 0, Slow);
        const pid_t other = TunnelState::readPid(lab.path(u"other.pid"_s));

        auto vpn = std::make_unique<VPNManager>(lab.tools());
        QSignalSpy errors(vpn.get(), &VPNManager::connectionError);
        vpn->connectVPN(lab.path(u"client.ovpn"_s), u"openvpn"_s);
        QTRY_VERIFY2_WITH_TIMEOUT(vpn->hasOwnTunnel(), lab.clientState().constData(), Slow);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.value(0).value(0).toString()));
        const QString pidFile = lab.path(u"run/openvpn.pid"_s);
        const pid_t ours = TunnelState::readPid(pidFile);
        QVERIFY(TunnelState::isOurOpenVpn(ours, pidFile));
        QTRY_VERIFY_WITH_TIMEOUT(lab.clientHas(u"tun0"_s), Slow);

        vpn = std::make_unique<VPNManager>(lab.tools()); // the browser restarted
        QVERIFY(vpn->hasOwnTunnel());
        QSignalSpy later(vpn.get(), &VPNManager::connectionError);
        vpn->disconnectVPN();
        QTRY_VERIFY_WITH_TIMEOUT(!vpn->isBusy(), Slow);
        QVERIFY2(later.isEmpty(), qPrintable(later.value(0).value(0).toString()));
        QVERIFY(!TunnelState::isAlive(ours));
        QTRY_VERIFY_WITH_TIMEOUT(!lab.clientHas(u"tun0"_s), Slow);
        QVERIFY(TunnelState::isAlive(other));
        QVERIFY(lab.clientHas(u"tun9"_s));
        QVERIFY(!vpn->hasOwnTunnel());
    }
};

QTEST_GUILESS_MAIN(TestRealTunnel)
#include "tst_realtunnel.moc"
