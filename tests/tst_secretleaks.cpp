#include "AccountServiceStub.h"
#include "AccountSyncManager.h"
#include "DataManager.h"
#include "FakeTools.h"
#include "TempDataDir.h"
#include "VPNManager.h"
#include "WireGuardConfig.h"

#include <QtTest>

Q_DECLARE_METATYPE(AccountServiceStub::KeysReply)

// Secrets and hostile values from the account service: no password, session
// token or private key reaches the debug log or the command line of a process
// the browser starts (the fake tools record theirs), and no value can add a line.
namespace {
QStringList captured;
QtMessageHandler previous = nullptr;
}

class TestSecretLeaks : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        captured.clear();
        // Passes messages on so QTest still fails on unexpected warnings.
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
            captured.append(text);
            previous(type, context, text);
        });
    }

    void cleanup() { qInstallMessageHandler(previous); }

    void secretsStayOutOfTheLogAndCommandLines_data()
    {
        QTest::addColumn<AccountServiceStub::KeysReply>("reply");
        QTest::newRow("good keys") << AccountServiceStub::KeysReply::Good;
        QTest::newRow("refused endpoint") << AccountServiceStub::KeysReply::InjectedEndpoint;
        QTest::newRow("session expired") << AccountServiceStub::KeysReply::Unauthorized;
    }
    void secretsStayOutOfTheLogAndCommandLines()
    {
        QFETCH(AccountServiceStub::KeysReply, reply);
        FakeTools tools;
        TempDataDir dir;
        // A damaged password store and a failed write are reported without their records.
        const QString password = QStringLiteral("hunter2-Passw0rd"), stored = DataManager::encryptPasswordStatic(password);
        dir.writeFile("passwords.json", "[{\"url\": \"https://site.test/\", \"password\": \"" + stored.toUtf8() + "\"");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StoreFile: unreadable data in .*passwords.json"));
        DataManager data;
        QVERIFY(QFile::remove(dir.filePath("passwords.json")) && QDir().mkpath(dir.filePath("passwords.json")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^DataManager: could not write .*passwords.json"));
        data.addPassword("https://site.test/", "ann", password);

        AccountServiceStub stub;
        QVERIFY(stub.listen());
        stub.setKeysReply(reply);
        VPNManager vpn;
        AccountSyncManager sync(&vpn);
        sync.setBaseUrl(stub.baseUrl());
        sync.saveToken(AccountServiceStub::sessionToken(), AccountServiceStub::userName());
        QSignalSpy finished(&sync, &AccountSyncManager::syncFinished);
        sync.syncKeys();
        QTRY_COMPARE(finished.size(), 1);
        if (finished.at(0).at(0).toBool()) {
            vpn.connectToCountry("Germany");
            QTRY_VERIFY(!tools.callsOf("wg-quick").isEmpty());
        }
        vpn.disconnectVPN();
        sync.clearToken();

        const QStringList secrets{password, stored, AccountServiceStub::sessionToken(), AccountServiceStub::password(),
                                  AccountServiceStub::goodWireGuard().value("private_key").toString()};
        QVERIFY(captured.size() >= 2);
        for (const QString &text : captured + tools.calls())
            for (const QString &secret : secrets)
                QVERIFY2(!text.contains(secret), qPrintable(text));
        QVERIFY(!tools.calls().join(' ').contains("PrivateKey"));
    }

    // The fuzzers' finds: a final line break passed the checks of values that go
    // into a file wg-quick runs as root; a blank in an interface name was kept.
    void finalLineBreakIsRefused()
    {
        const QString key = AccountServiceStub::key('k'), endpoint = QStringLiteral("vpn.example.test:51820");
        QVERIFY(WireGuardConfig::isValidKey(key) && !WireGuardConfig::isValidKey(key + "\n"));
        QVERIFY(WireGuardConfig::isValidEndpoint(endpoint) && !WireGuardConfig::isValidEndpoint(endpoint + "\n"));
        QVERIFY(WireGuardConfig::forServer(key, "10.0.0.2", key, "203.0.113.5") && !WireGuardConfig::forServer(key, "10.0.0.2\n", key, "203.0.113.5"));
        QVERIFY(AccountSyncManager::isUsableToken(AccountServiceStub::sessionToken()) && !AccountSyncManager::isUsableToken(AccountServiceStub::sessionToken() + "\n"));
        QVERIFY(!VPNManager::parseIpLink(R"([{"ifname":"wg0\u000bjunk","flags":["POINTOPOINT","UP","LOWER_UP"],)"
                                         R"("linkinfo":{"info_kind":"wireguard"}}])").up);
    }
};

QTEST_GUILESS_MAIN(TestSecretLeaks)
#include "tst_secretleaks.moc"
