#include "AccountServiceStub.h"
#include "FakeTools.h"
#include "TempDataDir.h"
#include "VPNManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
int modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

bool put(const QString &path, const QByteArray &bytes, mode_t mode)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QString writeScript(const QTemporaryDir &dir, const QString &name, const QByteArray &body)
{
    const QString path = dir.path() + QLatin1Char('/') + name;
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
        const qint64 now = clock.elapsed();
        worst = qMax(worst, now - last);
        last = now;
    });
    tick.start(10);
    QTest::qWait(ms);
    return qMax(worst, clock.elapsed() - last);
}

QString expectedServerConfig(const QJsonObject &server)
{
    const QJsonObject wg = AccountServiceStub::goodWireGuard();
    return QStringLiteral("[Interface]\nPrivateKey = %1\nAddress = %2/32\nDNS = 1.1.1.1\n\n[Peer]\nPublicKey = %3\n"
                          "Endpoint = %4:51820\nAllowedIPs = 0.0.0.0/0\nPersistentKeepalive = 25\n")
        .arg(wg.value(QStringLiteral("private_key")).toString(), wg.value(QStringLiteral("client_ip")).toString(),
             server.value(QStringLiteral("public_key")).toString(), server.value(QStringLiteral("address")).toString());
}
}

class TestVpnManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void firstProbeIsSynchronousAndBounded_data()
    {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<int>("ipDelay");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QString>("name");
        QTest::newRow("wireguard") << "wireguard-up" << 0 << true << "orvex_de1";
        QTest::newRow("openvpn") << "openvpn-tun-up" << 0 << true << "tun0";
        QTest::newRow("none") << "host-no-tunnel" << 0 << false << "";
        QTest::newRow("hung ip: given up, no tunnel") << "wireguard-up" << 20 << false << "";
    }
    void firstProbeIsSynchronousAndBounded()
    {
        QFETCH(QString, sample);
        QFETCH(int, ipDelay);
        FakeTools tools;
        tools.setIpOutputFromSample(sample);
        tools.setIpDelay(ipDelay);
        QElapsedTimer clock;
        clock.start();
        VPNManager vpn;
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QTEST(vpn.isConnected(), "up");
        QTEST(vpn.interfaceName(), "name");
    }

    void probesFollowTheSystem()
    {
        FakeTools tools;
        VPNManager vpn;
        QSignalSpy status(&vpn, &VPNManager::statusChanged);
        QSignalSpy stats(&vpn, &VPNManager::statsUpdated);

        // The periodic probe notices a tunnel brought up elsewhere.
        tools.setIpOutputFromSample(QStringLiteral("wireguard-up"));
        QTRY_COMPARE_WITH_TIMEOUT(status.size(), 1, 5000);
        QCOMPARE(status.at(0).at(0).toBool(), true);
        QCOMPARE(vpn.interfaceName(), QStringLiteral("orvex_de1"));
        QVERIFY(stats.size() >= 1);
        const auto last = stats.last().at(0).value<QMap<QString, QVariant>>();
        QCOMPARE(last.value(QStringLiteral("interface")).toString(), QStringLiteral("orvex_de1"));
        QCOMPARE(last.value(QStringLiteral("connected")).toBool(), true);

        tools.setIpOutputFromSample(QStringLiteral("wireguard-after-down"));
        vpn.checkVPNStatus();
        QTRY_COMPARE(status.size(), 2);
        QCOMPARE(status.at(1).at(0).toBool(), false);
        QVERIFY(!vpn.isConnected());
        // A probe leaves the last details; only a disconnect clears them.
        QCOMPARE(vpn.getStats().value(QStringLiteral("interface")).toString(), QStringLiteral("orvex_de1"));
    }

    void connectCommands_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("expected");
        QTest::newRow("openvpn") << "openvpn" << "openvpn" << "openvpn --config /cfg/a.ovpn --daemon";
        QTest::newRow("wireguard") << "wireguard" << "wg-quick" << "wg-quick up /cfg/a.ovpn";
        QTest::newRow("unknown type") << "ipsec" << "" << "";
    }
    void connectCommands()
    {
        QFETCH(QString, type);
        QFETCH(QString, tool);
        QFETCH(QString, expected);
        FakeTools tools;
        VPNManager vpn;
        tools.clearCalls();
        QSignalSpy status(&vpn, &VPNManager::statusChanged);
        vpn.connectVPN(QStringLiteral("/cfg/a.ovpn"), type);
        if (expected.isEmpty()) {
            QTest::qWait(300);
            QVERIFY(tools.calls().isEmpty());
            QCOMPARE(status.size(), 0);
            return;
        }
        QTRY_COMPARE(tools.callsOf(tool), QStringList{expected});
        // The tool's exit is followed by a probe, which finds the tunnel.
        tools.setIpOutputFromSample(QStringLiteral("openvpn-tun-up"));
        QTRY_COMPARE(status.size(), 1);
        QVERIFY(vpn.isConnected());
    }

    void disconnectTakesDownWhatWasBroughtUp()
    {
        FakeTools tools;
        tools.setIpOutputFromSample(QStringLiteral("wireguard-up"));
        VPNManager vpn;
        vpn.connectVPN(QStringLiteral("/cfg/one.conf"), QStringLiteral("wireguard"));
        QTRY_VERIFY(!tools.callsOf(QStringLiteral("wg-quick")).isEmpty());
        tools.clearCalls();
        tools.setIpOutputFromSample(QStringLiteral("wireguard-after-down"));

        QSignalSpy status(&vpn, &VPNManager::statusChanged);
        vpn.disconnectVPN();
        QCOMPARE(status.size(), 1); // at once, before the tools have run
        QCOMPARE(status.at(0).at(0).toBool(), false);
        QVERIFY(vpn.getStats().isEmpty());
        QVERIFY(vpn.interfaceName().isEmpty());
        QTRY_COMPARE(tools.calls().mid(0, 2),
                     (QStringList{QStringLiteral("pkill -x openvpn"), QStringLiteral("wg-quick down /cfg/one.conf")}));
        QTRY_VERIFY(!vpn.isDisconnecting());
        // The configuration is down now; a second disconnect does not repeat it.
        tools.clearCalls();
        vpn.disconnectVPN();
        QCOMPARE(status.size(), 2);
        QTRY_VERIFY(!vpn.isDisconnecting());
        QCOMPARE(tools.callsOf(QStringLiteral("wg-quick")), QStringList());
        QCOMPARE(tools.callsOf(QStringLiteral("pkill")), QStringList{QStringLiteral("pkill -x openvpn")});
    }

    void reconnectWaitsForTheTakeDown()
    {
        FakeTools tools;
        QTemporaryDir bin;
        VPNManager::Tools names;
        names.pkill = writeScript(bin, QStringLiteral("pkill"),
                                  "echo pkill >> '" + tools.binDir().toLocal8Bit() + "/calls.log'; sleep 1\n");
        names.wgQuick = writeScript(bin, QStringLiteral("wg-quick"),
                                    "echo \"wg-quick $*\" >> '" + tools.binDir().toLocal8Bit() + "/calls.log'; sleep 1\n");
        VPNManager vpn(names);
        auto toolCalls = [&tools] {
            QStringList out = tools.calls();
            out.removeIf([](const QString &c) { return c.startsWith(QLatin1String("ip ")); });
            return out;
        };
        vpn.connectVPN(QStringLiteral("/cfg/a.conf"), QStringLiteral("wireguard"));
        QTRY_VERIFY(!toolCalls().isEmpty());
        // The first tool still runs: connecting again takes it down first.
        vpn.connectVPN(QStringLiteral("/cfg/b.conf"), QStringLiteral("wireguard"));
        QTRY_COMPARE_WITH_TIMEOUT(toolCalls(),
                                  (QStringList{QStringLiteral("wg-quick up /cfg/a.conf"), QStringLiteral("pkill"),
                                               QStringLiteral("wg-quick down /cfg/a.conf"),
                                               QStringLiteral("wg-quick up /cfg/b.conf")}),
                                  8000);
    }

    void slowToolsNeverBlockTheWindow()
    {
        FakeTools tools;
        QTemporaryDir bin;
        VPNManager::Tools names;
        names.pkill = writeScript(bin, QStringLiteral("pkill"), "sleep 30\n");
        VPNManager vpn(names);
        vpn.setCommandTimeout(1500);
        QElapsedTimer clock;
        clock.start();
        vpn.disconnectVPN();
        QVERIFY(clock.elapsed() < 200);
        QVERIFY(longestStall(800) < 300);
        QVERIFY(vpn.isDisconnecting());
        // The hung command is killed after its bound; then probing resumes.
        QTRY_VERIFY_WITH_TIMEOUT(!vpn.isDisconnecting(), 5000);
    }

    void hungIpNeitherBlocksNorStacks()
    {
        FakeTools tools;
        VPNManager vpn;
        vpn.setProbeTimeout(1500);
        tools.clearCalls();
        tools.setIpDelay(30);
        QSignalSpy probes(&vpn, &VPNManager::probeFinished);
        QSignalSpy status(&vpn, &VPNManager::statusChanged);

        vpn.checkVPNStatus();
        QVERIFY(vpn.isProbeRunning());
        QVERIFY(longestStall(700) < 300);
        for (int i = 0; i < 5; ++i)
            vpn.checkVPNStatus();
        QTRY_COMPARE(tools.callsOf(QStringLiteral("ip")).size(), 1);
        QTest::qWait(200);
        QCOMPARE(tools.callsOf(QStringLiteral("ip")).size(), 1);

        // Killed at its bound; a killed probe changes nothing.
        QTRY_COMPARE_WITH_TIMEOUT(probes.size(), 1, 4000);
        QVERIFY(!vpn.isProbeRunning());
        QCOMPARE(status.size(), 0);
        tools.setIpDelay(0);
        tools.setIpOutputFromSample(QStringLiteral("openvpn-tun-up"));
        vpn.checkVPNStatus();
        QTRY_COMPARE(status.size(), 1);
        QCOMPARE(tools.callsOf(QStringLiteral("ip")).size(), 2);
    }

    void missingIpMeansNoTunnel()
    {
        FakeTools tools;
        tools.setIpOutputFromSample(QStringLiteral("openvpn-tun-up"));
        VPNManager vpn;
        QVERIFY(vpn.isConnected());
        QSignalSpy status(&vpn, &VPNManager::statusChanged);
        VPNManager::Tools names;
        names.ip = QStringLiteral("/nonexistent/ip");
        vpn.setTools(names);
        vpn.checkVPNStatus();
        QTRY_COMPARE(status.size(), 1);
        QVERIFY(!vpn.isConnected());
    }

    void destructionKillsRunningTool()
    {
        FakeTools tools;
        QTemporaryDir bin;
        VPNManager::Tools names;
        names.openvpn = writeScript(bin, QStringLiteral("openvpn"), "exec sleep 30\n");
        auto *vpn = new VPNManager(names);
        vpn->connectVPN(QStringLiteral("/cfg/x.ovpn"), QStringLiteral("openvpn"));
        QTest::qWait(200);
        QElapsedTimer clock;
        clock.start();
        delete vpn;
        QVERIFY(clock.elapsed() < 1500);
    }

    void connectToCountry_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("serverIndex");
        QTest::newRow("country") << "Germany" << 1;
        QTest::newRow("part of a country, any case") << "gERM" << 1;
        QTest::newRow("server name") << "new york" << 2;
        QTest::newRow("USA") << "USA" << 2;
        QTest::newRow("no match: first server") << "Narnia" << 0;
        QTest::newRow("empty text: first server") << "" << 0;
    }
    void connectToCountry()
    {
        QFETCH(QString, text);
        QFETCH(int, serverIndex);
        FakeTools tools; // first: its folder must not land in the test's temporary folder
        TempDataDir dir;
        VPNManager vpn;
        const QJsonObject keys = AccountServiceStub::goodKeys();
        vpn.setStoredKeys(keys);
        QCOMPARE(vpn.serverList().size(), 3);
        tools.clearCalls();
        QSignalSpy errors(&vpn, &VPNManager::connectionError);
        vpn.connectToCountry(text);

        const QJsonObject server = keys.value(QStringLiteral("available_servers")).toArray().at(serverIndex).toObject();
        const QString path = dir.tempDir() + QStringLiteral("/orvex_") + server.value(QStringLiteral("id")).toString()
                             + QStringLiteral(".conf");
        QTRY_COMPARE(tools.callsOf(QStringLiteral("wg-quick")), QStringList{QStringLiteral("wg-quick up ") + path});
        QCOMPARE(errors.size(), 0);
        QCOMPARE(QString::fromUtf8(contentOf(path)), expectedServerConfig(server));
        QCOMPARE(modeOf(path), 0600);
        QCOMPARE(QDir(dir.tempDir()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(path).fileName()});
    }

    // Every refusal: the error text, no file, no tool started.
    void connectToCountryRefusals_data()
    {
        QTest::addColumn<QJsonObject>("keys");
        QTest::addColumn<QString>("message");
        // The good keys with one field of the first server (or of "wireguard") replaced.
        auto with = [](const char *field, const QString &value, bool wireguard = false) {
            QJsonObject keys = AccountServiceStub::goodKeys();
            QJsonArray servers = keys.value(QStringLiteral("available_servers")).toArray();
            QJsonObject section = wireguard ? keys.value(QStringLiteral("wireguard")).toObject() : servers.at(0).toObject();
            section.insert(QLatin1String(field), value);
            servers.replace(0, wireguard ? servers.at(0) : QJsonValue(section));
            keys.insert(QStringLiteral("available_servers"), servers);
            if (wireguard)
                keys.insert(QStringLiteral("wireguard"), section);
            return keys;
        };
        const QString failed = QStringLiteral("Failed to generate configuration.");
        QJsonObject noWg = AccountServiceStub::goodKeys();
        noWg.remove(QStringLiteral("wireguard"));
        QTest::newRow("no servers") << QJsonObject{{QStringLiteral("wireguard"), AccountServiceStub::goodWireGuard()}}
                                    << QStringLiteral("No servers available. Please sync keys.");
        QTest::newRow("no wireguard keys") << noWg << failed;
        QTest::newRow("empty public key") << with("public_key", QString()) << failed;
        QTest::newRow("empty address") << with("address", QString()) << failed;
        QTest::newRow("path traversal id") << with("id", QStringLiteral("../../evil")) << failed;
        QTest::newRow("absolute id") << with("id", QStringLiteral("/etc/x")) << failed;
        QTest::newRow("empty id") << with("id", QString()) << failed;
        QTest::newRow("id too long for an interface") << with("id", QStringLiteral("abcdefghij")) << failed;
        QTest::newRow("address with a PostUp line")
            << with("address", QStringLiteral("1.2.3.4\nPostUp = touch /tmp/orvex-pwned")) << failed;
        QTest::newRow("public key with a line") << with("public_key", AccountServiceStub::key('x') + QStringLiteral("\nPostUp = id")) << failed;
        QTest::newRow("private key malformed") << with("private_key", QStringLiteral("abc"), true) << failed;
        QTest::newRow("client ip with a line") << with("client_ip", QStringLiteral("10.0.0.2\nPostUp = id"), true) << failed;
    }
    void connectToCountryRefusals()
    {
        QFETCH(QJsonObject, keys);
        QFETCH(QString, message);
        FakeTools tools; // first: its folder must not land in the test's temporary folder
        TempDataDir dir;
        VPNManager vpn;
        vpn.setStoredKeys(keys);
        tools.clearCalls();
        QSignalSpy errors(&vpn, &VPNManager::connectionError);
        vpn.connectToCountry(QStringLiteral("Iceland"));
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), message);
        QTest::qWait(100);
        QCOMPARE(tools.calls(), QStringList());
        QCOMPARE(QDir(dir.tempDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
        QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/evil.conf")));
    }

    void keysWithoutServersKeepTheList()
    {
        FakeTools tools;
        VPNManager vpn;
        vpn.setStoredKeys(AccountServiceStub::goodKeys());
        vpn.setStoredKeys(QJsonObject{{QStringLiteral("wireguard"), AccountServiceStub::goodWireGuard()}});
        QCOMPARE(vpn.serverList().size(), 3);
        QCOMPARE(vpn.serverList().at(1).id, QStringLiteral("de1"));
        vpn.setServerList(QJsonArray{QJsonObject{{QStringLiteral("id"), 7}}, QStringLiteral("not an object")});
        QCOMPARE(vpn.serverList().size(), 2);
        QVERIFY(vpn.serverList().at(0).id.isEmpty());
    }

    // Whatever sits at the predictable name in a shared folder.
    void existingFileAtConfigPath_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("written");
        QTest::newRow("own old file, world-readable") << "own" << true;
        QTest::newRow("symlink to a victim file") << "symlink" << false;
        QTest::newRow("dangling symlink") << "dangling" << false;
        QTest::newRow("another user's file") << "foreign" << false;
        QTest::newRow("a folder") << "folder" << false;
    }
    void existingFileAtConfigPath()
    {
        QFETCH(QString, kind);
        QFETCH(bool, written);
        FakeTools tools; // first: its folder must not land in the test's temporary folder
        TempDataDir dir;
        const QString path = dir.tempDir() + QStringLiteral("/orvex_is1.conf");
        const QString victim = dir.path() + QStringLiteral("/victim");
        QVERIFY(put(victim, "precious", 0644));
        if (kind == QLatin1String("own")) {
            QVERIFY(put(path, "old", 0644));
        } else if (kind == QLatin1String("symlink")) {
            QVERIFY(QFile::link(victim, path));
        } else if (kind == QLatin1String("dangling")) {
            QVERIFY(QFile::link(dir.path() + QStringLiteral("/nothing-yet"), path));
        } else if (kind == QLatin1String("foreign")) {
            if (::geteuid() != 0)
                QSKIP("needs root to create another user's file");
            QVERIFY(put(path, "theirs", 0644));
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        } else {
            QVERIFY(QDir().mkpath(path));
        }

        const mode_t oldMask = ::umask(0);
        VPNManager vpn;
        vpn.setStoredKeys(AccountServiceStub::goodKeys());
        QString configPath;
        const bool ok = vpn.generateConfigForServer(vpn.serverList().at(0), configPath);
        ::umask(oldMask);
        QCOMPARE(ok, written);
        QCOMPARE(contentOf(victim), QByteArray("precious"));
        QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/nothing-yet")));
        if (written) {
            QCOMPARE(configPath, path);
            QCOMPARE(modeOf(path), 0600);
            QVERIFY(contentOf(path).startsWith("[Interface]\n"));
        } else {
            QVERIFY(configPath.isEmpty());
            if (kind == QLatin1String("symlink") || kind == QLatin1String("dangling"))
                QVERIFY(QFileInfo(path).isSymLink());
        }
    }
};

QTEST_GUILESS_MAIN(TestVpnManager)
#include "tst_vpnmanager.moc"
