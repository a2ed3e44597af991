#include "FakeTools.h"
#include "VPNManager.h"

#include <QtTest>

class TestVpnProbe : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // Rows named "sample: x" read the captured `ip link show` output x.
    void parse_data()
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
        QTest::newRow("point-to-point without LOWER_UP")
            << "4: wg0: <POINTOPOINT,NOARP,UP> mtu 1420 state UNKNOWN" << false << "";
        QTest::newRow("ethernet up is no tunnel")
            << "2: eth0: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500 state UP" << false << "";
        QTest::newRow("truncated inside flags") << "3: wg0: <POINTOPOINT,UP,LOWER_" << false << "";
        QTest::newRow("first tunnel wins")
            << "3: wg1: <POINTOPOINT,UP,LOWER_UP> x\n4: tun0: <POINTOPOINT,UP,LOWER_UP> state UP" << true << "wg1";
        QTest::newRow("CRLF line ends") << "3: wg1: <POINTOPOINT,UP,LOWER_UP> mtu 1420\r\n" << true << "wg1";
    }
    void parse()
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
};

QTEST_GUILESS_MAIN(TestVpnProbe)
#include "tst_vpnprobe.moc"
