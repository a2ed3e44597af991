#include "ServiceEndpoints.h"
#include "VPNManager.h"
#include "VpnGate.h"

#include "FakeTools.h"

#include <QtTest>

// The kill switch's rule, and that it follows the tunnel and closes for good
// with its VPN manager.
class TestVpnGate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rule_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("allowed");
        const QString account = QStringLiteral("https://account.example.test");
        QTest::newRow("web, open") << "https://site.test/" << true << true;
        QTest::newRow("web, closed") << "https://site.test/" << false << false;
        QTest::newRow("loopback, closed") << "http://127.0.0.1:8080/x" << false << false;
        QTest::newRow("websocket, closed") << "wss://site.test/s" << false << false;
        QTest::newRow("view-source, closed") << "view-source:https://site.test/" << false << false;
        QTest::newRow("unknown scheme, closed") << "gopher://site.test/" << false << false;
        QTest::newRow("no scheme, closed") << "site.test/path" << false << false;
        QTest::newRow("account origin, closed") << account + "/api/login" << false << true;
        QTest::newRow("account origin, explicit port") << "https://ACCOUNT.example.test:443/signup" << false << true;
        QTest::newRow("account host, other port") << "https://account.example.test:8443/" << false << false;
        QTest::newRow("account host, http") << "http://account.example.test/" << false << false;
        QTest::newRow("account lookalike") << "https://account.example.test.evil.test/" << false << false;
        QTest::newRow("about, closed") << "about:vpn-required" << false << true;
        QTest::newRow("data, closed") << "data:text/html,hi" << false << true;
        QTest::newRow("blob, closed") << "blob:https://site.test/1234" << false << true;
        QTest::newRow("file, closed") << "file:///tmp/page.html" << false << true;
        QTest::newRow("devtools, closed") << "devtools://devtools/bundled/inspector.html" << false << true;
    }
    void rule()
    {
        QFETCH(QString, url);
        QFETCH(bool, open);
        QFETCH(bool, allowed);
        QCOMPARE(VpnGate::allows(QUrl(url), open, QUrl(QStringLiteral("https://account.example.test"))), allowed);
    }

    // Closed before anything is known; then as the probes find the tunnel;
    // closed again once the manager is gone.
    void followsTheTunnel()
    {
        FakeTools tools;
        ServiceEndpoints::setAccountUrl(QStringLiteral("https://account.example.test"));
        VpnGate::setOpen(false);
        QVERIFY(!VpnGate::allows(QUrl(QStringLiteral("https://site.test/"))));
        QVERIFY(VpnGate::allows(QUrl(QStringLiteral("https://account.example.test/login"))));
        {
            tools.setIpOutputFromSample(QStringLiteral("openvpn-tun-up"));
            VPNManager vpn;
            VpnGate::follow(&vpn);
            QVERIFY(VpnGate::isOpen());
            tools.setIpOutputFromSample(QStringLiteral("host-no-tunnel"));
            vpn.checkVPNStatus();
            QTRY_VERIFY_WITH_TIMEOUT(!VpnGate::isOpen(), 10000);
            tools.setIpOutputFromSample(QStringLiteral("openvpn-tun-up"));
            vpn.checkVPNStatus();
            QTRY_VERIFY_WITH_TIMEOUT(VpnGate::isOpen(), 10000);
        }
        QVERIFY(!VpnGate::isOpen());
        ServiceEndpoints::reset();
    }
};

QTEST_GUILESS_MAIN(TestVpnGate)
#include "tst_vpngate.moc"
