#include "FakeTools.h"
#include "VPNManager.h"

#include <QtTest>

class TestVpnProbe : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void capturedSamples_data()
    {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QString>("name");
        QTest::newRow("openvpn tun0, state UNKNOWN") << "openvpn-tun-up" << true << "tun0";
        QTest::newRow("wg-quick interface") << "wireguard-up" << true << "orvex_de1";
        QTest::newRow("wireguard taken down") << "wireguard-after-down" << false << "";
        QTest::newRow("unattached tun beside a live one") << "openvpn-up-plus-unattached-tun" << true << "tun0";
        QTest::newRow("no tunnel") << "host-no-tunnel" << false << "";
    }
    void capturedSamples()
    {
        QFETCH(QString, sample);
        QFETCH(bool, up);
        QFETCH(QString, name);
        const QByteArray text = FakeTools::sample(sample);
        QVERIFY(!text.isEmpty());
        const VPNManager::ProbeResult r = VPNManager::parseIpLinkShow(QString::fromUtf8(text));
        QCOMPARE(r.up, up);
        QCOMPARE(r.interfaceName, name);
    }

    void lines_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "" << false << "";
        QTest::newRow("garbage") << "\x01\x02 random <> :: state" << false << "";
        QTest::newRow("tun in state UP") << "5: tun3: <POINTOPOINT,UP> mtu 1500 state UP mode" << true << "tun3";
        QTest::newRow("tun inside another word, state UP")
            << "7: vethB@if8: <BROADCAST,UP,LOWER_UP> mtu 1500 state UP mode DEFAULT group tunnels" << true << "vethB";
        QTest::newRow("tun state UP without colon") << "tun0 state UP" << false << "";
        QTest::newRow("unattached tun, NO-CARRIER state DOWN")
            << "4: tun7: <NO-CARRIER,POINTOPOINT,MULTICAST,NOARP,UP> mtu 1500 qdisc pfifo_fast state DOWN" << false << "";
        QTest::newRow("point-to-point without LOWER_UP")
            << "4: wg0: <POINTOPOINT,NOARP,UP> mtu 1420 state UNKNOWN" << false << "";
        QTest::newRow("point-to-point administratively down")
            << "4: wg0: <POINTOPOINT,NOARP,LOWER_UP> mtu 1420 state DOWN" << false << "";
        QTest::newRow("wireguard with link suffix")
            << "12: orvex_de1@NONE: <POINTOPOINT,NOARP,UP,LOWER_UP> mtu 1420 state UNKNOWN" << true << "orvex_de1";
        QTest::newRow("ethernet up is no tunnel")
            << "2: eth0: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500 state UP" << false << "";
        QTest::newRow("truncated before flags") << "3: tun0" << false << "";
        QTest::newRow("truncated inside flags") << "3: wg0: <POINTOPOINT,UP,LOWER_" << false << "";
        QTest::newRow("empty name") << "3: : <POINTOPOINT,UP,LOWER_UP> state UNKNOWN" << false << "";
        QTest::newRow("first tunnel wins")
            << "3: wg1: <POINTOPOINT,UP,LOWER_UP> x\n4: tun0: <POINTOPOINT,UP,LOWER_UP> state UP" << true << "wg1";
        QTest::newRow("CRLF line ends") << "3: wg1: <POINTOPOINT,UP,LOWER_UP> mtu 1420\r\n" << true << "wg1";
    }
    void lines()
    {
        QFETCH(QString, output);
        QFETCH(bool, up);
        QFETCH(QString, name);
        const VPNManager::ProbeResult r = VPNManager::parseIpLinkShow(output);
        QCOMPARE(r.up, up);
        QCOMPARE(r.interfaceName, name);
    }
};

QTEST_GUILESS_MAIN(TestVpnProbe)
#include "tst_vpnprobe.moc"
