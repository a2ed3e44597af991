#include "AccountServiceStub.h"
#include "AccountSyncManager.h"
#include "VPNManager.h"
#include "WireGuardConfig.h"

#include <QtTest>

// Cases the fuzzers found: a value ending in a line break must not pass as a
// WireGuard value or a token, and an interface name ends at any kind of blank.
class TestHostileInput : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void finalLineBreakIsRefused_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("LF") << QStringLiteral("\n");
        QTest::newRow("CR") << QStringLiteral("\r");
        QTest::newRow("NUL") << QString(QChar(0));
    }
    void finalLineBreakIsRefused()
    {
        QFETCH(QString, ending);
        const QString key = AccountServiceStub::key('k');
        // Each value passes as it is and fails with the ending.
        for (const QString &end : {QString(), ending}) {
            const bool ok = end.isEmpty();
            QCOMPARE(WireGuardConfig::isValidKey(key + end), ok);
            QCOMPARE(WireGuardConfig::isValidClientAddress("10.0.0.2/32" + end, true), ok);
            QCOMPARE(WireGuardConfig::isValidEndpoint("vpn.example.test:51820" + end), ok);
            QCOMPARE(WireGuardConfig::isValidServerId("de1" + end), ok);
            QCOMPARE(AccountSyncManager::isUsableToken(AccountServiceStub::sessionToken() + end), ok);
            QCOMPARE(bool(WireGuardConfig::forServer(key, "10.0.0.2" + end, key, "203.0.113.5")), ok);
            QCOMPARE(bool(WireGuardConfig::fromAccount(key, "fd00::2/128" + end, key, "[2001:db8::1]:51820")), ok);
        }
    }

    void interfaceNameEndsAtAnyBlank_data()
    {
        QTest::addColumn<QString>("line");
        const QString flags = QStringLiteral(": <POINTOPOINT,NOARP,UP,LOWER_UP> mtu 1420 state UNKNOWN");
        QTest::newRow("vertical tab inside") << QStringLiteral("5: wg0\vjunk") + flags;
        QTest::newRow("leading form feed") << QStringLiteral("5:\fwg0") + flags;
    }
    void interfaceNameEndsAtAnyBlank()
    {
        QFETCH(QString, line);
        const VPNManager::ProbeResult result = VPNManager::parseIpLinkShow(line + QLatin1Char('\n'));
        QVERIFY(result.up);
        QCOMPARE(result.interfaceName, QStringLiteral("wg0"));
    }
};

QTEST_GUILESS_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"
