#include "VPNManager.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

// A real WireGuard tunnel between two network namespaces made for this test:
// a peer in one, and in the other the configuration this system generates,
// brought up and down by VPNManager. The host's own namespace is never
// touched.
namespace {
using Result = std::pair<int, QByteArray>; // exit code (-1: did not finish), output

Result sh(const QString &script, const QStringList &args = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(u"bash"_s, QStringList{u"-c"_s, u"PATH=$PATH:/usr/sbin:/sbin\n"_s + script, u"sh"_s} + args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(1000);
        return {-1, p.readAll()};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll()};
}

// $1 folder, $2 server namespace, $3 client namespace, $4 tag for names seen
// outside the namespaces (wireguard-go's sockets). Leaves in the folder the
// keys, stand-ins (so wg-quick leaves the host's DNS alone and needs no
// firewall tool, and no pkill reaches the host's processes) and wrappers that
// run wg-quick (userspace) and ip inside a namespace.
const auto SetUp = uR"sh(set -e
trap 'echo "set-up failed at: $BASH_COMMAND"' ERR
d=$1 s=$2 c=$3 ip=$(command -v ip)
mkdir -p "$d/shim" "$d/tmp"
printf '#!/bin/sh\n[ "$1" != -a ] || cat >/dev/null\n' > "$d/shim/resolvconf" # read all: wg-quick has pipefail
for f in shim/nft shim/iptables-restore pkill openvpn; do printf '#!/bin/sh\nexit 0\n' > "$d/$f"; done
for n in $s $c; do
  printf '#!/bin/sh\nexec %s netns exec %s env PATH="%s:$PATH" WG_QUICK_USERSPACE_IMPLEMENTATION=wireguard-go WG_I_PREFER_BUGGY_USERSPACE_TO_POLISHED_KMOD=1 %s "$@"\n' \
    "$ip" $n "$d/shim" "$(command -v wg-quick)" > "$d/wg-quick-$n"
done
printf '#!/bin/sh\nexec %s netns exec %s %s "$@"\n' "$ip" $c "$ip" > "$d/ip-$c"
chmod 700 "$d"/shim/* "$d"/pkill "$d"/openvpn "$d"/wg-quick-* "$d"/ip-*
ip netns add $s; ip netns add $c
ip -n $s link add veth0 type veth peer name veth1 netns $c
ip -n $s addr add 198.18.0.1/24 dev veth0; ip -n $c addr add 198.18.0.2/24 dev veth1
ip -n $s link set veth0 up; ip -n $c link set veth1 up
for n in $s $c; do ip -n $n link set lo up; done
umask 077
for k in server client; do wg genkey > "$d/$k.key"; wg pubkey < "$d/$k.key" > "$d/$k.pub"; done
printf '[Interface]\nPrivateKey = %s\nAddress = 198.19.0.1/24\nListenPort = 51820\n\n[Peer]\nPublicKey = %s\nAllowedIPs = 198.19.0.2/32\n' \
  "$(cat "$d/server.key")" "$(cat "$d/client.pub")" > "$d/ovxs$4.conf"
"$d/wg-quick-$s" up "$d/ovxs$4.conf")sh"_s;

// Owns the namespaces; the destructor takes them down with the userspace
// daemons in them (only those, by their ids), whatever the test's outcome.
struct Lab {
    const QString tag = QString::number(::getpid());
    const QString serverNs = u"orvex-rt-s-"_s + tag, clientNs = u"orvex-rt-c-"_s + tag;
    QTemporaryDir dir;
    Result setUp;

    Lab() { setUp = sh(SetUp, {dir.path(), serverNs, clientNs, tag}); }
    ~Lab() { sh(u"for n in \"$@\"; do ip netns pids $n | xargs -r kill; ip netns del $n; done"_s, {clientNs, serverNs}); }
    QString read(const QString &name) const
    {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().trimmed()) : QString();
    }
    QByteArray clientState() const { return sh(u"ip -n $1 link show; echo processes: $(ip netns pids $1)"_s, {clientNs}).second; }
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
        const Result missing = sh(u"for t in ip wg wg-quick wireguard-go; do command -v $t >/dev/null || echo $t; done\n"
                                  "[ -e /dev/net/tun ] || echo /dev/net/tun"_s);
        if (missing.first != 0 || !missing.second.isEmpty())
            QSKIP(qPrintable(u"missing: "_s + QString::fromLocal8Bit(missing.second.simplified())
                             + u" (install bash, wireguard-tools, wireguard-go, iproute2)"_s));
    }
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void generatedConfigurationBringsUpAWorkingTunnel()
    {
        const QByteArray hostBefore = sh(HostLinks).second;
        const Lab lab;
        QVERIFY2(lab.setUp.first == 0, lab.setUp.second.constData());

        const QString id = u"t"_s + lab.tag, iface = u"orvex_"_s + id;
        VPNManager::Tools tools;
        tools.ip = lab.dir.filePath(u"ip-"_s + lab.clientNs);
        tools.wgQuick = lab.dir.filePath(u"wg-quick-"_s + lab.clientNs);
        tools.pkill = lab.dir.filePath(u"pkill"_s);
        tools.openvpn = lab.dir.filePath(u"openvpn"_s);
        tools.tempFolder = lab.dir.filePath(u"tmp"_s);
        VPNManager vpn(tools);
        const QJsonObject server{{u"id"_s, id}, {u"name"_s, u"Lab 1"_s}, {u"country"_s, u"Iceland"_s},
                                 {u"address"_s, u"198.18.0.1"_s}, {u"flag"_s, u"*"_s}, {u"public_key"_s, lab.read(u"server.pub"_s)}};
        vpn.setStoredKeys({{u"wireguard"_s, QJsonObject{{u"private_key"_s, lab.read(u"client.key"_s)}, {u"client_ip"_s, u"198.19.0.2"_s}}},
                           {u"available_servers"_s, QJsonArray{server}}});
        QSignalSpy status(&vpn, &VPNManager::statusChanged);
        QSignalSpy errors(&vpn, &VPNManager::connectionError);
        vpn.connectToCountry(u"iceland"_s);
        QCOMPARE(errors.size(), 0);
        QTRY_VERIFY2_WITH_TIMEOUT(vpn.isConnected(), lab.clientState().constData(), 15000);
        QCOMPARE(vpn.interfaceName(), iface);
        QCOMPARE(status.first().at(0).toBool(), true);

        // Traffic into the tunnel completes a handshake with the peer.
        const Result handshake = sh(u"ip netns exec $1 bash -c 'for i in $(seq 20); do echo x > /dev/udp/198.19.0.1/9;"
                                    " [ \"$(wg show $0 latest-handshakes | cut -f2)\" -gt 0 ] && exit 0; sleep 0.25; done; exit 1' $2"_s,
                                    {lab.clientNs, iface});
        QVERIFY2(handshake.first == 0, "no WireGuard handshake through the generated configuration");

        vpn.disconnectVPN();
        QCOMPARE(status.last().at(0).toBool(), false);
        QTRY_VERIFY_WITH_TIMEOUT(!vpn.isDisconnecting(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!vpn.isProbeRunning(), 10000);
        QVERIFY(!vpn.isConnected());
        const Result link = sh(u"ip -n $1 link show $2"_s, {lab.clientNs, iface});
        QVERIFY2(link.first != 0, link.second.constData());
        QVERIFY(!QFile::exists(u"/var/run/wireguard/"_s + iface + u".sock"_s));
        QCOMPARE(sh(HostLinks).second, hostBefore);
    }
};

QTEST_GUILESS_MAIN(TestRealTunnel)
#include "tst_realtunnel.moc"
