#include "AccountServiceStub.h"
#include "AccountSyncManager.h"
#include "FakeTools.h"
#include "LoginDialog.h"
#include "ServiceEndpoints.h"
#include "TempDataDir.h"
#include "VPNManager.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using Keys = AccountServiceStub::KeysReply;
using Login = AccountServiceStub::LoginReply;

namespace {
constexpr int Refused = -1; // nothing listens at the service's address
const QString Nowhere = u"http://127.0.0.1:1"_s;
const QString NoToken = u"No authentication token available. Please log in."_s;

int modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
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
};

// How many of the login's two entries the token store holds.
int storedLogin(const TempDataDir &dir)
{
    QSettings check(dir.configDir() + u"/OrvexVPN/OrvexBrowser/orvexbrowser.ini"_s, QSettings::IniFormat);
    return int(check.contains(u"auth/token"_s)) + int(check.contains(u"auth/username"_s));
}
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
    void cleanup() { ServiceEndpoints::reset(); }

    void tokenStoreIsPrivate_data()
    {
        QTest::addColumn<int>("umaskValue");
        QTest::addColumn<bool>("oldReadableFile");
        QTest::newRow("new store, umask 0") << 0 << false;
        QTest::newRow("old world-readable store") << 022 << true;
    }
    void tokenStoreIsPrivate()
    {
        QFETCH(int, umaskValue);
        QFETCH(bool, oldReadableFile);
        TempDataDir dir;
        const QString ini = dir.configDir() + u"/OrvexVPN/OrvexBrowser/orvexbrowser.ini"_s;
        if (oldReadableFile) {
            QDir().mkpath(QFileInfo(ini).absolutePath());
            QFile old(ini);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("[auth]\ntoken=old\nusername=bob\n") > 0);
            QCOMPARE(::chmod(QFile::encodeName(ini).constData(), 0644), 0);
        }
        const mode_t oldMask = ::umask(mode_t(umaskValue));
        {
            AccountSyncManager sync(nullptr);
            QCOMPARE(sync.getSavedUsername(), oldReadableFile ? u"bob"_s : QString());
            for (const char *token : {"tok-1", "tok-2"}) {
                sync.saveToken(QString::fromLatin1(token), u"alice"_s);
                QCOMPARE(modeOf(ini), 0600);
            }
        }
        ::umask(oldMask);
        AccountSyncManager again(nullptr);
        QCOMPARE(again.getSavedToken(), u"tok-2"_s);
        again.clearToken();
        QVERIFY(!again.hasValidToken());
        QCOMPARE(storedLogin(dir), 0);
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
        f.sync.syncKeys();
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0), (QVariantList{true, u"VPN keys synced successfully!"_s}));
        QCOMPARE(seenServers, 3);
        const QString conf = f.appConfig() + u"/vpn/orvexvpn.conf"_s;
        QFile written(conf);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(written.readAll()),
                 u"[Interface]\nPrivateKey = %1\nAddress = 10.66.0.7\nDNS = 1.1.1.1\n\n[Peer]\nPublicKey = %2\n"
                 "Endpoint = is1.vpn.example:51820\nAllowedIPs = 0.0.0.0/0\nPersistentKeepalive = 25\n"_s
                     .arg(AccountServiceStub::key('p'), AccountServiceStub::key('s')));
        QCOMPARE(modeOf(conf), 0600);
    }

    // A message ending in a blank is a prefix.
    void syncFailures_data()
    {
        QTest::addColumn<int>("reply");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("loginKept");
        const QString good = AccountServiceStub::sessionToken(), invalid = u"Invalid response from server"_s;
        QTest::newRow("error member") << int(Keys::Error) << good << "Subscription expired" << true;
        QTest::newRow("401") << int(Keys::Unauthorized) << good << "Session expired. Please log in again." << false;
        QTest::newRow("not JSON") << int(Keys::NotJson) << good << invalid << true;
        QTest::newRow("array") << int(Keys::Array) << good << invalid << true;
        QTest::newRow("PostUp line in endpoint") << int(Keys::InjectedEndpoint) << good << invalid << true;
        QTest::newRow("slow") << int(Keys::Slow) << good << "Network error: " << true;
        QTest::newRow("server down") << Refused << good << "Network error: " << true;
        QTest::newRow("no token") << int(Keys::Good) << "" << NoToken << false;
        QTest::newRow("token that would add a header") << int(Keys::Good) << "abc\r\nX-Evil: 1" << NoToken << true;
        QTest::newRow("token with a cookie separator") << int(Keys::Good) << "abc;other=1" << NoToken << true;
    }
    void syncFailures()
    {
        QFETCH(int, reply);
        QFETCH(QString, token);
        QFETCH(QString, message);
        QFETCH(bool, loginKept);
        Fixture f;
        if (reply == Refused)
            f.sync.setBaseUrl(Nowhere);
        else
            f.stub.setKeysReply(Keys(reply));
        f.sync.setTimeout(300);
        if (!token.isEmpty())
            f.sync.saveToken(token, AccountServiceStub::userName());
        QSignalSpy finished(&f.sync, &AccountSyncManager::syncFinished);
        QSignalSpy updated(&f.vpn, &VPNManager::keysUpdated);
        QSignalSpy received(&f.sync, &AccountSyncManager::keysReceived);
        f.sync.syncKeys();
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(!finished.at(0).at(0).toBool());
        const QString shown = finished.at(0).at(1).toString();
        QVERIFY2(message.endsWith(u' ') ? shown.startsWith(message) : shown == message, qPrintable(shown));
        QTest::qWait(100); // nothing more arrives
        QCOMPARE(finished.size() + updated.size() + received.size(), 1);
        QCOMPARE(f.stub.requests().size(), int(reply != Refused && message != NoToken));
        QVERIFY(f.vpn.getStoredKeys().isEmpty());
        QVERIFY(!QFileInfo::exists(f.appConfig() + u"/vpn/orvexvpn.conf"_s));
        QCOMPARE(f.sync.hasValidToken(), loginKept);
        QCOMPARE(storedLogin(f.dir), loginKept ? 2 : 0);
    }

    void login_data()
    {
        QTest::addColumn<int>("reply");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("token"); // when accepted
        const QString user = AccountServiceStub::userName(), pw = AccountServiceStub::password();
        QTest::newRow("accepted") << int(Login::Token) << user << pw << "" << AccountServiceStub::sessionToken();
        QTest::newRow("no password") << int(Login::Token) << user << "" << "Please enter both username and password" << "";
        QTest::newRow("wrong password") << int(Login::Token) << user << "nope" << "Login failed: Invalid credentials" << "";
        QTest::newRow("user name sent untrimmed") << int(Login::Token) << " alice" << pw << "Login failed: Invalid credentials" << "";
        QTest::newRow("not JSON: nothing shown") << int(Login::NotJson) << user << pw << "" << "";
        QTest::newRow("token that would add a header") << int(Login::HostileToken) << user << pw << "Invalid response from server" << "";
        QTest::newRow("slow") << int(Login::Slow) << user << pw << "Network error: Operation canceled" << "";
        QTest::newRow("refused") << Refused << user << pw << "Network error: Connection refused" << "";
    }
    void login()
    {
        QFETCH(int, reply);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, token);
        AccountServiceStub stub;
        QVERIFY(stub.listen());
        stub.setLoginReply(Login(qMax(reply, 0)));
        ServiceEndpoints::setAccountUrl(reply == Refused ? Nowhere : stub.baseUrl());
        LoginDialog d;
        d.setTimeout(300);
        auto edit = [&d](const char *name) { return d.findChild<QLineEdit *>(QLatin1String(name)); };
        auto *button = d.findChild<QPushButton *>(u"loginButton"_s);
        edit("usernameEdit")->setText(user);
        edit("passwordEdit")->setText(password);
        QSignalSpy accepted(&d, &QDialog::accepted);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(button->isEnabled(), password.isEmpty()); // while the request is out
        QVERIFY(edit("passwordEdit")->text().isEmpty());   // not kept once sent
        QTRY_VERIFY(button->isEnabled());
        QTEST(d.findChild<QLabel *>(u"statusLabel"_s)->text(), "status");
        QCOMPARE(accepted.size(), int(!token.isEmpty()));
        QCOMPARE(d.getToken(), token);
        QCOMPARE(d.getUsername(), token.isEmpty() ? QString() : user);
        // Sent only when both are given, the user name exactly as typed.
        const QList<TestHttpServer::Request> sent = stub.requests();
        QCOMPARE(sent.size(), int(reply != Refused && !password.isEmpty()));
        if (!sent.isEmpty())
            QCOMPARE(QJsonDocument::fromJson(sent.first().body)[u"username"_s].toString(), user);
    }
};

QTEST_MAIN(TestAccountSync)
#include "tst_accountsync.moc"
