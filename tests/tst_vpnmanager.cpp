#include "AccountServiceStub.h"
#include "FakeTools.h"
#include "TempDataDir.h"
#include "VPNManager.h"

#include <QtTest>

#include <memory>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

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

// The good keys with one piece of their compact JSON text replaced.
QJsonObject keysWith(const QString &from, const QString &to)
{
    return QJsonDocument::fromJson(QJsonDocument(AccountServiceStub::goodKeys()).toJson(QJsonDocument::Compact)
                                       .replace(from.toUtf8(), to.toUtf8())).object();
}
}

class TestVpnManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    // Rows named "sample: x" read the captured `ip link show` output x.
    void parseIpLinkShow_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QString>("name");
        QTest::newRow("sample: tun0 up, state UNKNOWN") << "openvpn-tun-up" << true << "tun0";
        QTest::newRow("sample: only ethernet-like links up") << "wireguard-after-down" << false << "";
        QTest::newRow("sample: unattached tun beside a live one") << "openvpn-up-plus-unattached-tun" << true << "tun0";
        QTest::newRow("tun inside another word, state UP")
            << "7: vethB@if8: <BROADCAST,UP,LOWER_UP> mtu 1500 state UP mode DEFAULT group tunnels" << true << "vethB";
        QTest::newRow("point-to-point without LOWER_UP") << "4: wg0: <POINTOPOINT,NOARP,UP> mtu 1420 state UNKNOWN" << false << "";
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

    // Otherwise pkill or wg-quick down could hit the new tunnel.
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
        QVERIFY(clock.elapsed() < 5000);
        vpn->setProbeTimeout(1500);
        vpn->setCommandTimeout(1500);
        tools.clearCalls();
        QSignalSpy probes(vpn.get(), &VPNManager::probeFinished);
        QSignalSpy status(vpn.get(), &VPNManager::statusChanged);
        for (int i = 0; i < 5; ++i)
            vpn->checkVPNStatus();
        QVERIFY(longestStall(700) < 300);
        QCOMPARE(tools.callsOf(u"ip"_s).size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(probes.size(), 1, 4000);
        QCOMPARE(status.size(), 0); // a killed probe changes nothing

        clock.restart();
        vpn->disconnectVPN();
        QVERIFY(clock.elapsed() < 200);
        QVERIFY(longestStall(700) < 300);
        // Probing resumes once the command is killed.
        tools.setIpDelay(0);
        tools.setIpOutputFromSample(u"openvpn-tun-up"_s);
        QTRY_COMPARE_WITH_TIMEOUT(status.size(), 2, 6000);

        vpn->connectVPN(u"/cfg/x.ovpn"_s, u"openvpn"_s);
        QTest::qWait(200);
        clock.restart();
        vpn.reset();
        QVERIFY(clock.elapsed() < 1500);
    }

    // The server's configuration is written 0600 whatever the umask and then
    // brought up, and taken down at disconnect; or "Failed to generate
    // configuration." is given and nothing is written or started.
    // planted: what sits at the first server's path.
    void connectToCountry_data()
    {
        QTest::addColumn<QJsonObject>("keys");
        QTest::addColumn<QString>("planted");
        QTest::addColumn<bool>("accepted");
        const QJsonObject good = AccountServiceStub::goodKeys();
        QTest::newRow("own old file, world-readable") << good << "own" << true;
        QTest::newRow("symlink to a victim file") << good << "symlink" << false;
        QTest::newRow("malformed private key") << keysWith(AccountServiceStub::key('p'), u"abc"_s) << "" << false;
        QTest::newRow("address with a PostUp line")
            << keysWith(u"\"is1.vpn.example\""_s, u"\"1.2.3.4\\nPostUp = touch /tmp/x\""_s) << "" << false;
        QTest::newRow("path traversal id") << keysWith(u"\"id\":\"is1\""_s, u"\"id\":\"../../evil\""_s) << "" << false;
        QTest::newRow("id too long for an interface") << keysWith(u"\"id\":\"is1\""_s, u"\"id\":\"abcdefghij\""_s) << "" << false;
    }
    void connectToCountry()
    {
        QFETCH(QJsonObject, keys);
        QFETCH(QString, planted);
        QFETCH(bool, accepted);
        FakeTools tools; // first: its folder must not land in the test's temporary folder
        TempDataDir dir;
        const QString path = dir.tempDir() + u"/orvex_is1.conf"_s, victim = dir.path() + u"/victim"_s;
        QVERIFY(put(victim, "precious", 0644));
        if (planted == u"own")
            QVERIFY(put(path, "old", 0644));
        if (planted == u"symlink")
            QVERIFY(QFile::link(victim, path));
        VPNManager vpn;
        vpn.setStoredKeys(keys);
        tools.clearCalls();
        QSignalSpy errors(&vpn, &VPNManager::connectionError);
        const mode_t oldMask = ::umask(0);
        vpn.connectToCountry(u"icEL"_s);
        ::umask(oldMask);
        QCOMPARE(errors.value(0).value(0).toString(), accepted ? QString() : u"Failed to generate configuration."_s);
        if (!accepted)
            QTest::qWait(100);
        QTRY_COMPARE(toolCalls(tools), accepted ? QStringList{u"wg-quick up "_s + path} : QStringList());
        QCOMPARE(QDir(dir.tempDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
                 accepted || !planted.isEmpty() ? QStringList{u"orvex_is1.conf"_s} : QStringList());
        QVERIFY(!QFileInfo::exists(dir.path() + u"/evil.conf"_s));
        QFile victimFile(victim);
        QVERIFY(victimFile.open(QIODevice::ReadOnly));
        QCOMPARE(victimFile.readAll(), QByteArray("precious"));
        if (accepted) {
            QFile written(path);
            QVERIFY(written.open(QIODevice::ReadOnly) && written.readAll().contains("\nEndpoint = is1.vpn.example:51820\n"));
            QCOMPARE(modeOf(path), 0600);
            tools.clearCalls();
            vpn.disconnectVPN();
            QTRY_VERIFY(!vpn.isDisconnecting());
            QCOMPARE(toolCalls(tools), (QStringList{u"pkill -x openvpn"_s, u"wg-quick down "_s + path}));
        }
    }
};

QTEST_GUILESS_MAIN(TestVpnManager)
#include "tst_vpnmanager.moc"
