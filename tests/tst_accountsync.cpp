#include "AccountServiceStub.h"
#include "AccountSyncManager.h"
#include "FakeTools.h"
#include "ServiceEndpoints.h"
#include "TempDataDir.h"
#include "VPNManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QSettings>
#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
int modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
// How many of the login's two entries the token store holds.
int storedLogin(const QString &ini)
{
    QSettings check(ini, QSettings::IniFormat);
    return int(check.contains(u"auth/token"_s)) + int(check.contains(u"auth/username"_s));
}

// One browser's worth of account plumbing against a fresh stub.
struct Fixture {
    FakeTools tools;
    TempDataDir dir;
    AccountServiceStub stub;
    VPNManager vpn;
    AccountSyncManager sync{&vpn};

    Fixture()
    {
        stub.listen();
        sync.setBaseUrl(stub.baseUrl());
    }
    QString appConfig() const { return dir.configDir() + u"/OrvexVPN/OrvexBrowser"_s; }
    QString iniPath() const { return appConfig() + u"/orvexbrowser.ini"_s; }
    QString confPath() const { return appConfig() + u"/vpn/orvexvpn.conf"_s; }
};
}

class TestAccountSync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(u"OrvexVPN"_s);
        QCoreApplication::setApplicationName(u"OrvexBrowser"_s);
    }
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void tokenStoreIsPrivate_data()
    {
        QTest::addColumn<int>("umaskValue");
        QTest::addColumn<bool>("oldReadableFile");
        QTest::newRow("umask 000") << 0 << false;
        QTest::newRow("umask 022") << 022 << false;
        QTest::newRow("old world-readable store") << 022 << true;
    }
    void tokenStoreIsPrivate()
    {
        QFETCH(int, umaskValue);
        QFETCH(bool, oldReadableFile);
        FakeTools tools;
        TempDataDir dir;
        const QString ini = dir.configDir() + u"/OrvexVPN/OrvexBrowser/orvexbrowser.ini"_s;
        if (oldReadableFile) {
            QDir().mkpath(QFileInfo(ini).absolutePath());
            QFile f(ini);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("[auth]\ntoken=old\nusername=bob\n") > 0);
            QCOMPARE(::chmod(QFile::encodeName(ini).constData(), 0644), 0);
        }
        const mode_t old = ::umask(mode_t(umaskValue));
        {
            VPNManager vpn;
            AccountSyncManager sync(&vpn);
            QCOMPARE(sync.tokenStorePath(), ini);
            if (oldReadableFile)
                QCOMPARE(sync.getSavedUsername(), u"bob"_s);
            for (const char *token : {"tok-1", "tok-2"}) {
                sync.saveToken(QString::fromLatin1(token), u"alice"_s);
                QCOMPARE(modeOf(ini), 0600);
            }
        }
        ::umask(old);
        VPNManager vpn;
        AccountSyncManager again(&vpn);
        QCOMPARE(again.getSavedToken(), u"tok-2"_s);
        QCOMPARE(again.getSavedUsername(), u"alice"_s);
        QVERIFY(again.hasValidToken());
        again.clearToken();
        QVERIFY(!again.hasValidToken());
        QCOMPARE(storedLogin(ini), 0);
        QCOMPARE(modeOf(ini), 0600);
    }

    void syncSuccess()
    {
        Fixture f;
        f.sync.saveToken(AccountServiceStub::sessionToken(), AccountServiceStub::userName());
        QStringList order;
        connect(&f.vpn, &VPNManager::keysUpdated, this, [&] {
            QCOMPARE(f.vpn.serverList().size(), 3); // stored before listeners hear of them
            order << u"keysUpdated"_s;
        });
        connect(&f.sync, &AccountSyncManager::keysReceived, this, [&] { order << u"keysReceived"_s; });
        connect(&f.sync, &AccountSyncManager::syncFinished, this, [&] { order << u"syncFinished"_s; });
        QSignalSpy started(&f.sync, &AccountSyncManager::syncStarted);
        QSignalSpy finished(&f.sync, &AccountSyncManager::syncFinished);
        f.sync.syncKeys(QString());
        QCOMPARE(started.size(), 1);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0), (QVariantList{true, u"VPN keys synced successfully!"_s}));
        QCOMPARE(order, (QStringList{"keysUpdated", "keysReceived", "syncFinished"}));
        QCOMPARE(f.vpn.getStoredKeys(), AccountServiceStub::goodKeys());

        const TestHttpServer::Request req = f.stub.server().requestsFor("/api/vpn/keys").last();
        QCOMPARE(req.method, QByteArray("GET"));
        QCOMPARE(req.header("content-type"), QByteArray("application/json"));
        QCOMPARE(f.stub.lastKeysCookieToken(), AccountServiceStub::sessionToken().toUtf8());

        const QJsonObject wg = AccountServiceStub::goodWireGuard();
        auto field = [&wg](const char *name) { return wg.value(QLatin1String(name)).toString(); };
        const QString expected = QStringLiteral("[Interface]\nPrivateKey = %1\nAddress = %2\nDNS = 1.1.1.1\n\n[Peer]\n"
                                                "PublicKey = %3\nEndpoint = %4\nAllowedIPs = 0.0.0.0/0\n"
                                                "PersistentKeepalive = 25\n")
                                     .arg(field("private_key"), field("client_ip"), field("server_public_key"), field("endpoint"));
        QCOMPARE(QString::fromUtf8(readAll(f.confPath())), expected);
        QCOMPARE(modeOf(f.confPath()), 0600);

        // A given token is used instead of the stored one; keys without
        // WireGuard still sync, and write no configuration.
        f.sync.clearToken();
        QVERIFY(QFile::remove(f.confPath()));
        f.stub.setKeysReply(AccountServiceStub::KeysReply::NoWireGuard);
        f.sync.syncKeys(AccountServiceStub::sessionToken());
        QTRY_COMPARE(finished.size(), 2);
        QVERIFY(finished.at(1).at(0).toBool());
        QVERIFY(!QFileInfo::exists(f.confPath()));
        QCOMPARE(f.vpn.serverList().size(), 3);
    }

    // reply -1: nothing listens. A message ending in a blank is a prefix.
    void syncFailures_data()
    {
        QTest::addColumn<int>("reply");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("tokenKept");
        using K = AccountServiceStub::KeysReply;
        const QString invalid = u"Invalid response from server"_s;
        QTest::newRow("error member") << int(K::Error) << "Subscription expired" << true;
        QTest::newRow("401") << int(K::Unauthorized) << "Session expired. Please log in again." << false;
        QTest::newRow("not JSON") << int(K::NotJson) << invalid << true;
        QTest::newRow("array") << int(K::Array) << invalid << true;
        QTest::newRow("PostUp line in endpoint") << int(K::InjectedEndpoint) << invalid << true;
        QTest::newRow("slow reply") << int(K::Slow) << "Network error: " << true;
        QTest::newRow("server down") << -1 << "Network error: " << true;
    }
    void syncFailures()
    {
        QFETCH(int, reply);
        QFETCH(QString, message);
        QFETCH(bool, tokenKept);
        Fixture f;
        if (reply < 0)
            f.sync.setBaseUrl(u"http://127.0.0.1:1"_s);
        else
            f.stub.setKeysReply(AccountServiceStub::KeysReply(reply));
        f.stub.setSlowDelayMs(5000);
        f.sync.setTimeout(300);
        f.sync.saveToken(AccountServiceStub::sessionToken(), AccountServiceStub::userName());
        QSignalSpy finished(&f.sync, &AccountSyncManager::syncFinished);
        QSignalSpy updated(&f.vpn, &VPNManager::keysUpdated);
        QSignalSpy received(&f.sync, &AccountSyncManager::keysReceived);
        f.sync.syncKeys(QString());
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(!finished.at(0).at(0).toBool());
        const QString shown = finished.at(0).at(1).toString();
        QVERIFY2(message.endsWith(QLatin1Char(' ')) ? shown.startsWith(message) : shown == message, qPrintable(shown));
        QTest::qWait(50);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(updated.size() + received.size(), 0);
        QVERIFY(f.vpn.getStoredKeys().isEmpty());
        QVERIFY(!QFileInfo::exists(f.confPath()));
        QCOMPARE(f.sync.hasValidToken(), tokenKept);
        QCOMPARE(storedLogin(f.iniPath()), tokenKept ? 2 : 0);
    }

    void noUsableToken_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("none") << QString();
        QTest::newRow("header injection") << u"abc\r\nX-Evil: 1"_s;
        QTest::newRow("cookie separator") << u"abc; other=1"_s;
    }
    void noUsableToken()
    {
        QFETCH(QString, stored);
        Fixture f;
        if (!stored.isEmpty())
            f.sync.saveToken(stored, u"mallory"_s);
        QSignalSpy started(&f.sync, &AccountSyncManager::syncStarted);
        QSignalSpy finished(&f.sync, &AccountSyncManager::syncFinished);
        f.sync.syncKeys(QString());
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(1).toString(), u"No authentication token available. Please log in."_s);
        QCOMPARE(started.size(), 0);
        QTest::qWait(100);
        QCOMPARE(f.stub.server().requests().size(), 0);
    }

    void managersOwnKeyFetch()
    {
        Fixture f;
        ServiceEndpoints::setAccountUrl(f.stub.baseUrl());
        QSignalSpy updated(&f.vpn, &VPNManager::keysUpdated);
        f.vpn.fetchKeys(AccountServiceStub::sessionToken());
        QTRY_COMPARE(updated.size(), 1);
        ServiceEndpoints::reset();
        QCOMPARE(updated.at(0).at(0).toJsonObject(), AccountServiceStub::goodKeys());
        QCOMPARE(f.vpn.serverList().size(), 3);
        QCOMPARE(f.stub.lastKeysCookieToken(), AccountServiceStub::sessionToken().toUtf8());
    }

    // A hostile server id syncs, but no file name leaves the temporary folder.
    void traversalIdNeverBecomesAPath()
    {
        Fixture f;
        f.stub.setKeysReply(AccountServiceStub::KeysReply::TraversalId);
        QSignalSpy finished(&f.sync, &AccountSyncManager::syncFinished);
        f.sync.syncKeys(AccountServiceStub::sessionToken());
        QTRY_COMPARE(finished.size(), 1);
        QSignalSpy errors(&f.vpn, &VPNManager::connectionError);
        f.tools.clearCalls();
        f.vpn.connectToCountry(u"Iceland"_s);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), u"Failed to generate configuration."_s);
        QVERIFY(!QFileInfo::exists(f.dir.path() + u"/evil.conf"_s));
        QVERIFY(!QFileInfo::exists(f.dir.tempDir() + u"/orvex_../../evil.conf"_s));
        QCOMPARE(f.tools.callsOf(u"wg-quick"_s), QStringList());
        // The other servers still work.
        f.vpn.connectToCountry(u"Germany"_s);
        QTRY_COMPARE(f.tools.callsOf(u"wg-quick"_s),
                     QStringList{u"wg-quick up "_s + f.dir.tempDir() + u"/orvex_de1.conf"_s});
    }
};

QTEST_GUILESS_MAIN(TestAccountSync)
#include "tst_accountsync.moc"
