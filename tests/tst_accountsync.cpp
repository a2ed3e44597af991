#include "AccountServiceStub.h"
#include "AccountSyncManager.h"
#include "FakeTools.h"
#include "ServiceEndpoints.h"
#include "TempDataDir.h"
#include "VPNManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
        again.clearToken();
        QVERIFY(!again.hasValidToken());
        QCOMPARE(storedLogin(ini), 0);
        QCOMPARE(modeOf(ini), 0600);
    }

    void syncSuccess()
    {
        Fixture f;
        f.sync.saveToken(AccountServiceStub::sessionToken(), AccountServiceStub::userName());
        // Keys are stored before listeners hear of them.
        int seenServers = -1;
        connect(&f.sync, &AccountSyncManager::keysReceived, this, [&] { seenServers = int(f.vpn.serverList().size()); });
        QSignalSpy finished(&f.sync, &AccountSyncManager::syncFinished);
        f.sync.syncKeys(QString());
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0), (QVariantList{true, u"VPN keys synced successfully!"_s}));
        QCOMPARE(seenServers, 3);
        QCOMPARE(f.stub.lastKeysCookieToken(), AccountServiceStub::sessionToken().toUtf8());
        QVERIFY(readAll(f.confPath()).startsWith("[Interface]\nPrivateKey = "));
        QCOMPARE(modeOf(f.confPath()), 0600);
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
        QTest::newRow("PostUp line in endpoint") << int(K::InjectedEndpoint) << invalid << true;
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
        QCOMPARE(updated.size() + received.size(), 0);
        QVERIFY(f.vpn.getStoredKeys().isEmpty());
        QVERIFY(!QFileInfo::exists(f.confPath()));
        QCOMPARE(f.sync.hasValidToken(), tokenKept);
        QCOMPARE(storedLogin(f.iniPath()), tokenKept ? 2 : 0);
    }

    void noUsableToken_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("header injection") << u"abc\r\nX-Evil: 1"_s;
        QTest::newRow("cookie separator") << u"abc; other=1"_s;
    }
    void noUsableToken()
    {
        QFETCH(QString, stored);
        Fixture f;
        f.sync.saveToken(stored, u"mallory"_s);
        QSignalSpy finished(&f.sync, &AccountSyncManager::syncFinished);
        f.sync.syncKeys(QString());
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(1).toString(), u"No authentication token available. Please log in."_s);
        QTest::qWait(100);
        QCOMPARE(f.stub.server().requests().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestAccountSync)
#include "tst_accountsync.moc"
