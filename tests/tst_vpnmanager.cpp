#include "AccountServiceStub.h"
#include "FakeTools.h"
#include "TempDataDir.h"
#include "VPNManager.h"
#include "WireGuardConfig.h"

#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
int modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool put(const QString &path, const QByteArray &bytes, mode_t mode)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

QString script(const QTemporaryDir &dir, const char *name, const QByteArray &body)
{
    const QString path = dir.filePath(QLatin1String(name));
    put(path, "#!/bin/sh\n" + body, 0700);
    return path;
}

// Runs the event loop for ms and returns the longest gap between 10 ms ticks.
qint64 longestStall(int ms)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, worst = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worst = qMax(worst, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(10);
    QTest::qWait(ms);
    return qMax(worst, clock.elapsed() - last);
}

// The recorded calls of every tool but the probe's `ip`.
QStringList toolCalls(const FakeTools &tools)
{
    return tools.calls().filter(QRegularExpression(u"^(?!ip )"_s));
}

// The good keys with one value of the first server (or of "wireguard") replaced.
QJsonObject keysWith(const char *field, const QString &value, bool wireguard = false)
{
    QJsonObject keys = AccountServiceStub::goodKeys();
    QJsonArray servers = keys[u"available_servers"_s].toArray();
    QJsonObject section = wireguard ? keys[u"wireguard"_s].toObject() : servers.at(0).toObject();
    section.insert(QLatin1String(field), value);
    if (wireguard)
        keys.insert(u"wireguard"_s, section);
    servers.replace(0, wireguard ? servers.at(0) : section);
    keys.insert(u"available_servers"_s, servers);
    return keys;
}

const QString PrivateKey = QString::fromLatin1(QByteArray(32, 'p').toBase64());
const QString PublicKey = QString::fromLatin1(QByteArray(32, 's').toBase64());
}

class TestVpnManager : public QObject
{
    Q_OBJECT
    enum Kind { Key, Endpoint, ServerId };

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    // Rows named "sample: x" read the captured `ip link show` output x.
    void parseIpLinkShow_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QString>("name");
        QTest::newRow("sample: openvpn tun0, state UNKNOWN") << "openvpn-tun-up" << true << "tun0";
        QTest::newRow("sample: wg-quick interface") << "wireguard-up" << true << "orvex_de1";
        QTest::newRow("sample: wireguard taken down") << "wireguard-after-down" << false << "";
        QTest::newRow("sample: unattached tun beside a live one") << "openvpn-up-plus-unattached-tun" << true << "tun0";
        QTest::newRow("sample: no tunnel") << "host-no-tunnel" << false << "";
        QTest::newRow("garbage") << "\x01\x02 random <> :: state" << false << "";
        QTest::newRow("tun inside another word, state UP")
            << "7: vethB@if8: <BROADCAST,UP,LOWER_UP> mtu 1500 state UP mode DEFAULT group tunnels" << true << "vethB";
        QTest::newRow("unattached tun, NO-CARRIER state DOWN")
            << "4: tun7: <NO-CARRIER,POINTOPOINT,MULTICAST,NOARP,UP> mtu 1500 qdisc pfifo_fast state DOWN" << false << "";
        QTest::newRow("point-to-point without LOWER_UP") << "4: wg0: <POINTOPOINT,NOARP,UP> mtu 1420 state UNKNOWN" << false << "";
        QTest::newRow("ethernet up is no tunnel") << "2: eth0: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500 state UP" << false << "";
        QTest::newRow("truncated inside flags") << "3: wg0: <POINTOPOINT,UP,LOWER_" << false << "";
        QTest::newRow("first tunnel wins")
            << "3: wg1: <POINTOPOINT,UP,LOWER_UP> x\n4: tun0: <POINTOPOINT,UP,LOWER_UP> state UP" << true << "wg1";
        QTest::newRow("CRLF line ends") << "3: wg1: <POINTOPOINT,UP,LOWER_UP> mtu 1420\r\n" << true << "wg1";
    }
    void parseIpLinkShow()
    {
        QFETCH(QString, output);
        if (QByteArray(QTest::currentDataTag()).startsWith("sample: ")) {
            output = QString::fromUtf8(FakeTools::sample(output));
            QVERIFY(!output.isEmpty());
        }
        const VPNManager::ProbeResult r = VPNManager::parseIpLinkShow(output);
        QTEST(r.up, "up");
        QTEST(r.interfaceName, "name");
    }

    // The first probe is synchronous; later ones follow a tunnel brought up
    // and down elsewhere, and a missing `ip` means no tunnel.
    void probesFollowTheSystem()
    {
        FakeTools tools;
        tools.setIpOutputFromSample(u"wireguard-up"_s);
        VPNManager vpn;
        QVERIFY(vpn.isConnected());
        QCOMPARE(vpn.interfaceName(), u"orvex_de1"_s);
        QSignalSpy status(&vpn, &VPNManager::statusChanged);
        QSignalSpy stats(&vpn, &VPNManager::statsUpdated);
        tools.setIpOutputFromSample(u"wireguard-after-down"_s);
        QTRY_COMPARE_WITH_TIMEOUT(status.size(), 1, 5000); // the periodic probe
        tools.setIpOutputFromSample(u"openvpn-tun-up"_s);
        vpn.checkVPNStatus();
        QTRY_COMPARE(status.size(), 2);
        QCOMPARE(stats.last().at(0).value<QVariantMap>(), (QVariantMap{{u"connected"_s, true}, {u"interface"_s, u"tun0"_s}}));
        VPNManager::Tools missing;
        missing.ip = u"/nonexistent/ip"_s;
        vpn.setTools(missing);
        vpn.checkVPNStatus();
        QTRY_COMPARE(status.size(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(status.at(i).at(0).toBool(), i == 1);
        QVERIFY(vpn.interfaceName().isEmpty());
        // A probe leaves the last details; only a disconnect clears them.
        QCOMPARE(vpn.getStats().value(u"interface"_s).toString(), u"tun0"_s);
    }

    // Disconnect takes down what was brought up, and only once.
    void connectAndDisconnectCommands_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("up");
        QTest::addColumn<QStringList>("down");
        const QString pkill = u"pkill -x openvpn"_s;
        QTest::newRow("openvpn") << "openvpn" << "openvpn --config /cfg/a.ovpn --daemon" << QStringList{pkill};
        QTest::newRow("wireguard") << "wireguard" << "wg-quick up /cfg/a.ovpn" << QStringList{pkill, u"wg-quick down /cfg/a.ovpn"_s};
        QTest::newRow("unknown type: nothing runs") << "ipsec" << "" << QStringList{pkill};
    }
    void connectAndDisconnectCommands()
    {
        QFETCH(QString, type);
        QFETCH(QString, up);
        QFETCH(QStringList, down);
        FakeTools tools;
        VPNManager vpn;
        tools.clearCalls();
        QSignalSpy status(&vpn, &VPNManager::statusChanged);
        vpn.connectVPN(u"/cfg/a.ovpn"_s, type);
        if (!up.isEmpty()) {
            QTRY_COMPARE(toolCalls(tools), QStringList{up});
            // The tool's exit is followed by a probe, which finds the tunnel.
            tools.setIpOutputFromSample(u"openvpn-tun-up"_s);
            QTRY_VERIFY(vpn.isConnected());
        }
        QTest::qWait(200);
        QCOMPARE(toolCalls(tools), up.isEmpty() ? QStringList() : QStringList{up});
        QCOMPARE(status.size(), int(!up.isEmpty()));
        tools.clearCalls();
        tools.setIpOutputFromSample(u"wireguard-after-down"_s);
        vpn.disconnectVPN();
        QCOMPARE(status.last().at(0).toBool(), false); // at once, before the tools have run
        QVERIFY(vpn.getStats().isEmpty());
        QVERIFY(vpn.interfaceName().isEmpty());
        QTRY_VERIFY(!vpn.isDisconnecting());
        QCOMPARE(toolCalls(tools), down);
        // What is down stays down: a second disconnect only runs pkill.
        tools.clearCalls();
        vpn.disconnectVPN();
        QTRY_VERIFY(!vpn.isDisconnecting());
        QCOMPARE(toolCalls(tools), down.mid(0, 1));
    }

    void reconnectWaitsForTheTakeDown()
    {
        FakeTools tools;
        QTemporaryDir bin;
        VPNManager::Tools names;
        const QByteArray log = tools.binDir().toLocal8Bit() + "/calls.log";
        names.pkill = script(bin, "pkill", "echo pkill >> '" + log + "'; sleep 1\n");
        names.wgQuick = script(bin, "wg-quick", "echo \"wg-quick $*\" >> '" + log + "'; sleep 1\n");
        VPNManager vpn(names);
        vpn.connectVPN(u"/cfg/a.conf"_s, u"wireguard"_s);
        QTRY_VERIFY(!toolCalls(tools).isEmpty());
        // The first tool still runs: connecting again takes it down first.
        vpn.connectVPN(u"/cfg/b.conf"_s, u"wireguard"_s);
        QTRY_COMPARE_WITH_TIMEOUT(toolCalls(tools), (QStringList{u"wg-quick up /cfg/a.conf"_s, u"pkill"_s,
                                                                 u"wg-quick down /cfg/a.conf"_s, u"wg-quick up /cfg/b.conf"_s}),
                                  8000);
    }

    // Hung tools leave the event loop running, don't pile up, and are killed
    // at their bounds; only the first probe blocks, and briefly. A manager
    // destroyed while a tool runs goes at once.
    void hungToolsNeverBlockTheWindow()
    {
        FakeTools tools;
        tools.setIpDelay(30);
        QTemporaryDir bin;
        VPNManager::Tools names;
        names.pkill = script(bin, "pkill", "exec sleep 30\n");
        names.openvpn = script(bin, "openvpn", "exec sleep 30\n");
        QElapsedTimer clock;
        clock.start();
        auto vpn = std::make_unique<VPNManager>(names);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!vpn->isConnected());
        vpn->setProbeTimeout(1500);
        vpn->setCommandTimeout(1500);
        tools.clearCalls();
        QSignalSpy probes(vpn.get(), &VPNManager::probeFinished);
        QSignalSpy status(vpn.get(), &VPNManager::statusChanged);
        for (int i = 0; i < 5; ++i)
            vpn->checkVPNStatus();
        QVERIFY(vpn->isProbeRunning());
        QVERIFY(longestStall(700) < 300);
        QCOMPARE(tools.callsOf(u"ip"_s).size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(probes.size(), 1, 4000);
        QCOMPARE(status.size(), 0); // a killed probe changes nothing

        clock.restart();
        vpn->disconnectVPN();
        QVERIFY(clock.elapsed() < 200);
        QVERIFY(longestStall(700) < 300);
        QVERIFY(vpn->isDisconnecting());
        // Probing resumes once the command is killed.
        tools.setIpDelay(0);
        tools.setIpOutputFromSample(u"openvpn-tun-up"_s);
        QTRY_COMPARE_WITH_TIMEOUT(status.size(), 2, 6000);
        QVERIFY(vpn->isConnected());

        vpn->connectVPN(u"/cfg/x.ovpn"_s, u"openvpn"_s);
        QTest::qWait(200);
        clock.restart();
        vpn.reset();
        QVERIFY(clock.elapsed() < 1500);
    }

    // The server is chosen and its configuration written (0600, whatever the
    // umask), or the error is given and nothing is written or started.
    // planted: what sits at the first server's path in the shared folder.
    void connectToCountry_data()
    {
        QTest::addColumn<QJsonObject>("keys");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("planted");
        QTest::addColumn<int>("server"); // -1: refused
        QTest::addColumn<QString>("error");
        const QJsonObject good = AccountServiceStub::goodKeys();
        const QString failed = u"Failed to generate configuration."_s;
        QJsonObject noWg = good;
        noWg.remove(u"wireguard"_s);
        QTest::newRow("country") << good << "Germany" << "" << 1 << "";
        QTest::newRow("part of a country, any case") << good << "gERM" << "" << 1 << "";
        QTest::newRow("server name") << good << "new york" << "" << 2 << "";
        QTest::newRow("no match: first server") << good << "Narnia" << "" << 0 << "";
        QTest::newRow("empty text: first server") << good << "" << "" << 0 << "";
        QTest::newRow("no servers") << QJsonObject{{u"wireguard"_s, good[u"wireguard"_s]}} << "Iceland" << "" << -1
                                    << "No servers available. Please sync keys.";
        QTest::newRow("no wireguard keys") << noWg << "Iceland" << "" << -1 << failed;
        QTest::newRow("path traversal id") << keysWith("id", u"../../evil"_s) << "Iceland" << "" << -1 << failed;
        QTest::newRow("empty id") << keysWith("id", QString()) << "Iceland" << "" << -1 << failed;
        QTest::newRow("id too long for an interface") << keysWith("id", u"abcdefghij"_s) << "Iceland" << "" << -1 << failed;
        QTest::newRow("address with a PostUp line")
            << keysWith("address", u"1.2.3.4\nPostUp = touch /tmp/orvex-pwned"_s) << "Iceland" << "" << -1 << failed;
        QTest::newRow("private key malformed") << keysWith("private_key", u"abc"_s, true) << "Iceland" << "" << -1 << failed;
        QTest::newRow("own old file, world-readable") << good << "Iceland" << "own" << 0 << "";
        QTest::newRow("symlink to a victim file") << good << "Iceland" << "symlink" << -1 << failed;
        QTest::newRow("dangling symlink") << good << "Iceland" << "dangling" << -1 << failed;
        QTest::newRow("another user's file") << good << "Iceland" << "foreign" << -1 << failed;
        QTest::newRow("a folder") << good << "Iceland" << "folder" << -1 << failed;
    }
    void connectToCountry()
    {
        QFETCH(QJsonObject, keys);
        QFETCH(QString, text);
        QFETCH(QString, planted);
        QFETCH(int, server);
        QFETCH(QString, error);
        FakeTools tools; // first: its folder must not land in the test's temporary folder
        TempDataDir dir;
        const QString first = dir.tempDir() + u"/orvex_is1.conf"_s, victim = dir.path() + u"/victim"_s;
        QVERIFY(put(victim, "precious", 0644));
        if (planted == u"own" || planted == u"foreign")
            QVERIFY(put(first, "old", 0644));
        if (planted == u"symlink" || planted == u"dangling")
            QVERIFY(QFile::link(planted == u"symlink" ? victim : dir.path() + u"/nothing-yet"_s, first));
        if (planted == u"foreign" && ::geteuid() != 0)
            QSKIP("needs root to create another user's file");
        if (planted == u"foreign")
            QCOMPARE(::chown(QFile::encodeName(first).constData(), 65534, 65534), 0);
        if (planted == u"folder")
            QVERIFY(QDir().mkpath(first));

        VPNManager vpn;
        vpn.setStoredKeys(keys);
        keys.remove(u"available_servers"_s);
        vpn.setStoredKeys(keys); // keeps the server list
        tools.clearCalls();
        QSignalSpy errors(&vpn, &VPNManager::connectionError);
        const mode_t oldMask = ::umask(0);
        vpn.connectToCountry(text);
        ::umask(oldMask);
        QCOMPARE(errors.size(), int(!error.isEmpty()));
        QCOMPARE(errors.value(0).value(0).toString(), error);

        const QJsonObject chosen = AccountServiceStub::goodKeys()[u"available_servers"_s].toArray().at(server).toObject();
        const QString name = u"orvex_"_s + chosen[u"id"_s].toString() + u".conf"_s, path = dir.tempDir() + u'/' + name;
        if (server < 0)
            QTest::qWait(100);
        QTRY_COMPARE(toolCalls(tools), server < 0 ? QStringList() : QStringList{u"wg-quick up "_s + path});
        QCOMPARE(QDir(dir.tempDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
                 server >= 0 ? QStringList{name} : planted.isEmpty() ? QStringList() : QStringList{u"orvex_is1.conf"_s});
        QCOMPARE(contentOf(victim), QByteArray("precious"));
        QCOMPARE(QFileInfo(first).isSymLink(), planted == u"symlink" || planted == u"dangling");
        QVERIFY(!QFileInfo::exists(dir.path() + u"/nothing-yet"_s));
        QVERIFY(!QFileInfo::exists(dir.path() + u"/evil.conf"_s));
        if (server >= 0) {
            const QJsonObject wg = keys[u"wireguard"_s].toObject();
            QCOMPARE(contentOf(path), WireGuardConfig::forServer(wg[u"private_key"_s].toString(), wg[u"client_ip"_s].toString(),
                                                                 chosen[u"public_key"_s].toString(), chosen[u"address"_s].toString())
                                          ->toUtf8());
            QCOMPARE(modeOf(path), 0600);
        }
    }

    void validators_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("valid");
        auto row = [](int kind, const char *name, const QString &value, bool valid) {
            QTest::addRow("%s: %s", kind == Key ? "key" : kind == Endpoint ? "endpoint" : "server id", name) << kind << value << valid;
        };
        const QString good = QString::fromLatin1(QByteArray(32, 'k').toBase64());
        row(Key, "32 bytes", good, true);
        row(Key, "one short", good.mid(1), false);
        row(Key, "no padding", good.left(43) + u'A', false);
        row(Key, "stray low bits", u"yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmn="_s, false);
        row(Key, "trailing line", good + u"\nPostUp = id"_s, false);
        row(Endpoint, "ipv4", u"203.0.113.5:51820"_s, true);
        row(Endpoint, "ipv6 bracketed", u"[2001:db8::1]:51820"_s, true);
        row(Endpoint, "ipv6 bare", u"2001:db8::1:51820"_s, false);
        row(Endpoint, "port 0", u"203.0.113.5:0"_s, false);
        row(Endpoint, "port 65536", u"203.0.113.5:65536"_s, false);
        row(Endpoint, "no port", u"203.0.113.5"_s, false);
        row(Endpoint, "signed port", u"203.0.113.5:+80"_s, false);
        row(Endpoint, "injected line", u"203.0.113.5:51820\nPostUp = touch /tmp/x"_s, false);
        row(ServerId, "plain", u"de1"_s, true);
        row(ServerId, "nine chars: interface name of 15", u"abcdefghi"_s, true);
        row(ServerId, "ten chars: interface name of 16", u"abcdefghij"_s, false);
        row(ServerId, "traversal", u"../../evil"_s, false);
        row(ServerId, "non-ascii letter", u"dé1"_s, false);
    }
    void validators()
    {
        QFETCH(int, kind);
        QFETCH(QString, value);
        QTEST(kind == Key ? WireGuardConfig::isValidKey(value)
              : kind == Endpoint ? WireGuardConfig::isValidEndpoint(value) : WireGuardConfig::isValidServerId(value), "valid");
    }

    void addresses_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("clientPlain");   // client address, no prefix
        QTest::addColumn<bool>("clientPrefixed"); // client address as sent
        QTest::addColumn<bool>("host");
        QTest::newRow("ipv4") << "10.66.0.7" << true << true << true;
        QTest::newRow("ipv4 /32") << "10.66.0.7/32" << false << true << false;
        QTest::newRow("ipv4 /33") << "10.66.0.7/33" << false << false << false;
        QTest::newRow("ipv6") << "fd00::7" << true << true << true;
        QTest::newRow("octet 256") << "10.0.0.256" << false << false << false;
        QTest::newRow("leading zero") << "10.0.0.07" << false << false << false;
        QTest::newRow("host name") << "de1.vpn.example" << false << false << true;
        QTest::newRow("underscore") << "a_b.example" << false << false << false;
        QTest::newRow("blank") << " 10.0.0.1" << false << false << false;
        QTest::newRow("newline") << "10.0.0.1\nPostUp = id" << false << false << false;
        QTest::newRow("comment") << "10.0.0.1#x" << false << false << false;
    }
    void addresses()
    {
        QFETCH(QString, value);
        QTEST(WireGuardConfig::isValidClientAddress(value, false), "clientPlain");
        QTEST(WireGuardConfig::isValidClientAddress(value, true), "clientPrefixed");
        QTEST(WireGuardConfig::isValidHost(value), "host");
    }

    // Both templates, byte for byte.
    void templates_data()
    {
        QTest::addColumn<bool>("fromAccount");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("expected"); // Address and Endpoint values
        QTest::newRow("server, host name") << false << "10.66.0.7" << "is1.vpn.example" << "10.66.0.7/32|is1.vpn.example:51820";
        QTest::newRow("server, ipv6 gets brackets") << false << "10.66.0.7" << "2001:db8::20" << "10.66.0.7/32|[2001:db8::20]:51820";
        QTest::newRow("account") << true << "10.66.0.7/24" << "de1.vpn.example:443" << "10.66.0.7/24|de1.vpn.example:443";
    }
    void templates()
    {
        QFETCH(bool, fromAccount);
        QFETCH(QString, address);
        QFETCH(QString, server);
        QFETCH(QString, expected);
        const std::optional<QString> text = fromAccount ? WireGuardConfig::fromAccount(PrivateKey, address, PublicKey, server)
                                                        : WireGuardConfig::forServer(PrivateKey, address, PublicKey, server);
        QVERIFY(text);
        QCOMPARE(*text, u"[Interface]\nPrivateKey = %1\nAddress = %2\nDNS = 1.1.1.1\n\n[Peer]\nPublicKey = %3\nEndpoint = %4\n"
                        "AllowedIPs = 0.0.0.0/0\nPersistentKeepalive = 25\n"_s
                            .arg(PrivateKey, expected.section(u'|', 0, 0), PublicKey, expected.section(u'|', 1)));
    }

    // Any single unsafe value refuses the whole configuration.
    void unsafeValuesRefused_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("value");
        const char *fields[] = {"private key", "client address", "public key", "server"};
        for (int f = 0; f < 4; ++f) {
            for (const QString &v : {QString(), u"x\nPostUp = id"_s, u"%1"_s, u"10.0.0.1 #"_s})
                QTest::addRow("%s = %s", fields[f], qPrintable(QString(v).replace(u'\n', u"\\n"_s))) << f << v;
        }
    }
    void unsafeValuesRefused()
    {
        QFETCH(int, field);
        QFETCH(QString, value);
        QStringList v = {PrivateKey, u"10.66.0.7"_s, PublicKey, u"198.51.100.20"_s};
        v[field] = value;
        QVERIFY(!WireGuardConfig::forServer(v[0], v[1], v[2], v[3]));
        v[3] += u":51820"_s;
        QVERIFY(!WireGuardConfig::fromAccount(v[0], v[1], v[2], v[3]));
    }
};

QTEST_GUILESS_MAIN(TestVpnManager)
#include "tst_vpnmanager.moc"
