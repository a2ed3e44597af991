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
        QVERIFY(!WireGuardConfig::isValidKey(key + ending));
        QVERIFY(!WireGuardConfig::isValidClientAddress(QStringLiteral("10.0.0.2/32") + ending, true));
        QVERIFY(!WireGuardConfig::isValidEndpoint(QStringLiteral("vpn.example.test:51820") + ending));
        QVERIFY(!WireGuardConfig::isValidServerId(QStringLiteral("de1") + ending));
        QVERIFY(!AccountSyncManager::isUsableToken(AccountServiceStub::sessionToken() + ending));
        QVERIFY(!WireGuardConfig::forServer(key, QStringLiteral("10.0.0.2") + ending, key, QStringLiteral("203.0.113.5")));
        QVERIFY(!WireGuardConfig::fromAccount(key, QStringLiteral("fd00::2/128") + ending, key, QStringLiteral("vpn.example.test:51820")));
        const std::optional<QString> good = WireGuardConfig::fromAccount(key, QStringLiteral("fd00::2/128"), key, QStringLiteral("[2001:db8::1]:51820"));
        QVERIFY(good);
        QCOMPARE(good->count(QLatin1Char('\n')), 10); // the template's ten lines
    }

    void interfaceNameEndsAtAnyBlank_data()
    {
        QTest::addColumn<QString>("line");
        const QString flags = QStringLiteral(": <POINTOPOINT,NOARP,UP,LOWER_UP> mtu 1420 state UNKNOWN");
        QTest::newRow("vertical tab inside") << QStringLiteral("5: wg0\vjunk") + flags;
        QTest::newRow("leading form feed") << QStringLiteral("5:\fwg0") + flags;
        QTest::newRow("link suffix") << QStringLiteral("5: wg0@NONE") + flags;
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
