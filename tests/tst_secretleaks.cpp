#include "AccountServiceStub.h"
#include "AccountSyncManager.h"
#include "DataManager.h"
#include "FakeTools.h"
#include "TempDataDir.h"
#include "VPNManager.h"

#include <QtTest>

Q_DECLARE_METATYPE(AccountServiceStub::KeysReply)

// No password, session token or private key may reach the debug log or the
// command line of a process the browser starts (the fake tools record theirs).
namespace {
QStringList captured;
QtMessageHandler previous = nullptr;

// Passes messages on so QTest still fails on unexpected warnings.
void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    captured.append(text);
    if (previous)
        previous(type, context, text);
}

void verifyNoLeak(const QStringList &texts, const QStringList &secrets)
{
    for (const QString &text : texts)
        for (const QString &secret : secrets)
            QVERIFY2(!text.contains(secret), qPrintable(text));
}
}

class TestSecretLeaks : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        captured.clear();
        previous = qInstallMessageHandler(recordMessage);
    }

    void cleanup() { qInstallMessageHandler(previous); }

    // A damaged store and a failed write are reported without their records.
    void savedPasswordsStayOutOfTheLog()
    {
        TempDataDir dir;
        const QString secret = QStringLiteral("hunter2-Passw0rd");
        const QString stored = DataManager::encryptPasswordStatic(secret);
        dir.writeFile(QStringLiteral("passwords.json"), "[{\"url\": \"https://site.test/\", \"password\": \"" + stored.toUtf8() + "\"");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^StoreFile: unreadable data in .*passwords.json")));
        DataManager damaged;
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("passwords.json"))));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("passwords.json"))));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^DataManager: could not write .*passwords.json")));
        damaged.addPassword(QStringLiteral("https://site.test/"), QStringLiteral("ann"), secret);
        QVERIFY(captured.size() >= 2);
        verifyNoLeak(captured, {secret, stored});
    }

    void tokenAndKeysStayOutOfTheLogAndCommandLines_data()
    {
        QTest::addColumn<AccountServiceStub::KeysReply>("reply");
        QTest::newRow("good keys") << AccountServiceStub::KeysReply::Good;
        QTest::newRow("refused endpoint") << AccountServiceStub::KeysReply::InjectedEndpoint;
        QTest::newRow("session expired") << AccountServiceStub::KeysReply::Unauthorized;
    }
    void tokenAndKeysStayOutOfTheLogAndCommandLines()
    {
        QFETCH(AccountServiceStub::KeysReply, reply);
        FakeTools tools;
        TempDataDir dir;
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
            vpn.connectToCountry(QStringLiteral("Germany"));
            QTRY_VERIFY(!tools.callsOf(QStringLiteral("wg-quick")).isEmpty());
        }
        vpn.connectVPN(dir.tempDir() + QStringLiteral("/user.ovpn"), QStringLiteral("openvpn"));
        QTRY_VERIFY(!tools.callsOf(QStringLiteral("openvpn")).isEmpty());
        vpn.disconnectVPN();
        sync.clearToken();

        const QStringList secrets{AccountServiceStub::sessionToken(), AccountServiceStub::password(),
                                  AccountServiceStub::goodWireGuard().value(QLatin1String("private_key")).toString()};
        QVERIFY(!captured.isEmpty());
        verifyNoLeak(captured, secrets);
        verifyNoLeak(tools.calls(), secrets + QStringList{QStringLiteral("PrivateKey")});
    }
};

QTEST_GUILESS_MAIN(TestSecretLeaks)
#include "tst_secretleaks.moc"
