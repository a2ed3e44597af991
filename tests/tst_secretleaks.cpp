#include "AccountServiceStub.h"
#include "AccountSyncManager.h"
#include "DataManager.h"
#include "FakeTools.h"
#include "TempDataDir.h"
#include "VPNManager.h"

#include <QDir>
#include <QJsonArray>
#include <QtTest>

#include <memory>

// No password, session token or private key may reach the debug log or the
// command line of a process the browser starts (the fake tools record theirs).
namespace {
QStringList captured;
QtMessageHandler previous = nullptr;

// Records every message, qDebug included, and passes it on so QTest still
// fails on unexpected warnings.
void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    captured.append(text);
    if (previous)
        previous(type, context, text);
}

// Empty when none of the secrets shows up in any of the texts.
QString leaks(const QStringList &texts, const QStringList &secrets)
{
    for (const QString &text : texts) {
        for (const QString &secret : secrets) {
            if (!secret.isEmpty() && text.contains(secret))
                return QStringLiteral("\"%1\" holds a secret").arg(text);
        }
    }
    return QString();
}
}

class TestSecretLeaks : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("OrvexVPN"));
        QCoreApplication::setApplicationName(QStringLiteral("OrvexBrowser"));
    }

    void init()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        captured.clear();
        previous = qInstallMessageHandler(recordMessage);
    }

    void cleanup() { qInstallMessageHandler(previous); }

    void savedPasswordsStayOutOfTheLog()
    {
        TempDataDir dir;
        const QString secret = QStringLiteral("hunter2-Passw0rd");
        const QString stored = DataManager::encryptPasswordStatic(secret);
        {
            DataManager data;
            data.addPassword(QStringLiteral("https://site.test/"), QStringLiteral("ann"), secret);
            data.addPassword(QStringLiteral("https://site.test/"), QStringLiteral("ann"), secret + QLatin1Char('!'));
            data.removePassword(QStringLiteral("https://site.test/"), QStringLiteral("bob"));
        }
        // A damaged file is reported and kept aside; its contents are not logged.
        dir.writeFile(QStringLiteral("passwords.json"), "[{\"url\": \"https://site.test/\", \"password\": \"" + stored.toUtf8() + "\"");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^StoreFile: unreadable data in .*passwords.json")));
        DataManager damaged;
        QVERIFY(damaged.getPasswords().isEmpty());
        // A write that fails is reported without the record.
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("passwords.json"))));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("passwords.json"))));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^DataManager: could not write .*passwords.json")));
        damaged.addPassword(QStringLiteral("https://site.test/"), QStringLiteral("ann"), secret);

        QVERIFY(captured.size() >= 2);
        const QString problem = leaks(captured, {secret, stored, DataManager::encryptPasswordStatic(secret + QLatin1Char('!'))});
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    void tokenAndKeysStayOutOfTheLogAndCommandLines_data()
    {
        QTest::addColumn<int>("reply");
        QTest::newRow("good keys") << int(AccountServiceStub::KeysReply::Good);
        QTest::newRow("refused endpoint") << int(AccountServiceStub::KeysReply::InjectedEndpoint);
        QTest::newRow("refused server id") << int(AccountServiceStub::KeysReply::TraversalId);
        QTest::newRow("session expired") << int(AccountServiceStub::KeysReply::Unauthorized);
    }

    void tokenAndKeysStayOutOfTheLogAndCommandLines()
    {
        QFETCH(int, reply);
        FakeTools tools;
        TempDataDir dir;
        AccountServiceStub stub;
        QVERIFY(stub.listen());
        stub.setKeysReply(AccountServiceStub::KeysReply(reply));
        VPNManager vpn;
        AccountSyncManager sync(&vpn);
        sync.setBaseUrl(stub.baseUrl());

        sync.saveToken(AccountServiceStub::sessionToken(), AccountServiceStub::userName());
        QSignalSpy finished(&sync, &AccountSyncManager::syncFinished);
        sync.syncKeys();
        QTRY_COMPARE(finished.size(), 1);
        if (finished.at(0).at(0).toBool()) {
            QSignalSpy failed(&vpn, &VPNManager::connectionError);
            vpn.connectToCountry(QStringLiteral("Germany"));
            QTRY_VERIFY(!tools.callsOf(QStringLiteral("wg-quick")).isEmpty());
            QCOMPARE(failed.size(), 0);
        }
        vpn.connectVPN(dir.tempDir() + QStringLiteral("/user.ovpn"), QStringLiteral("openvpn"));
        QTRY_VERIFY(!tools.callsOf(QStringLiteral("openvpn")).isEmpty());
        vpn.disconnectVPN();
        sync.clearToken();

        const QJsonObject wireguard = AccountServiceStub::goodWireGuard();
        const QStringList secrets{AccountServiceStub::sessionToken(), AccountServiceStub::password(),
                                  wireguard.value(QLatin1String("private_key")).toString()};
        QVERIFY(!captured.isEmpty());
        QString problem = leaks(captured, secrets);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        problem = leaks(tools.calls(), secrets);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        // A configuration goes to a tool as a path, never as text.
        for (const QString &call : tools.callsOf(QStringLiteral("wg-quick")))
            QVERIFY2(!call.contains(QLatin1Char('=')) && !call.contains(QLatin1String("PrivateKey")), qPrintable(call));
    }
};

QTEST_GUILESS_MAIN(TestSecretLeaks)
#include "tst_secretleaks.moc"
