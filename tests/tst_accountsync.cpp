#include "AccountServiceStub.h"
#include "AccountSyncManager.h"
#include "FakeTools.h"
#include "LoginDialog.h"
#include "TempDataDir.h"
#include "VPNManager.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using Keys = AccountServiceStub::KeysReply;
using Login = AccountServiceStub::LoginReply;

namespace {
int modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
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

    // Keys are stored before listeners hear of them; a refused reply stores
    // nothing. The token store, once world-readable, stays private, any umask.
    void syncKeys_data()
    {
        QTest::addColumn<int>("reply");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("loginKept");
        const QString invalid = u"Invalid response from server"_s;
        QTest::newRow("good") << int(Keys::Good) << "VPN keys synced successfully!" << true;
        QTest::newRow("401") << int(Keys::Unauthorized) << "Session expired. Please log in again." << false;
        QTest::newRow("not JSON") << int(Keys::NotJson) << invalid << true;
        QTest::newRow("PostUp line in endpoint") << int(Keys::InjectedEndpoint) << invalid << true;
    }
    void syncKeys()
    {
        QFETCH(int, reply);
        QFETCH(QString, message);
        QFETCH(bool, loginKept);
        FakeTools tools;
        TempDataDir dir;
        const QString folder = dir.configDir() + u"/OrvexVPN/OrvexBrowser"_s, ini = folder + u"/orvexbrowser.ini"_s;
        QVERIFY(QDir().mkpath(folder));
        QFile old(ini);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("[auth]\ntoken=old\n") > 0);
        QVERIFY(old.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        old.close();
        const mode_t oldMask = ::umask(0);
        AccountServiceStub stub;
        QVERIFY(stub.listen());
        stub.setKeysReply(Keys(reply));
        VPNManager vpn;
        AccountSyncManager sync(&vpn);
        sync.setBaseUrl(stub.baseUrl());
        sync.saveToken(AccountServiceStub::sessionToken(), AccountServiceStub::userName());
        int seenServers = -1;
        connect(&sync, &AccountSyncManager::keysReceived, this, [&] { seenServers = int(vpn.serverList().size()); });
        QSignalSpy finished(&sync, &AccountSyncManager::syncFinished);
        sync.syncKeys();
        QTRY_COMPARE(finished.size(), 1);
        ::umask(oldMask);
        const bool good = reply == int(Keys::Good);
        QCOMPARE(finished.at(0), (QVariantList{good, message}));
        QCOMPARE(seenServers, good ? 3 : -1);
        QCOMPARE(vpn.getStoredKeys().isEmpty(), !good);
        const QString conf = folder + u"/vpn/orvexvpn.conf"_s;
        QCOMPARE(modeOf(conf), good ? 0600 : -1);
        QFile written(conf);
        QCOMPARE(written.open(QIODevice::ReadOnly) && written.readAll().contains("\nEndpoint = is1.vpn.example:51820\n"), good);
        QCOMPARE(sync.hasValidToken(), loginKept);
        QSettings store(ini, QSettings::IniFormat);
        QCOMPARE(int(store.contains(u"auth/token"_s)) + int(store.contains(u"auth/username"_s)), loginKept ? 2 : 0);
        QCOMPARE(modeOf(ini), 0600);

        // Logging out leaves nothing of the account to connect with.
        QVERIFY(sync.logOut());
        QVERIFY(!sync.hasValidToken());
        QCOMPARE(modeOf(conf), -1);
        QVERIFY(vpn.serverList().isEmpty() && !vpn.getStoredKeys().contains(u"wireguard"_s));
        QCOMPARE(modeOf(ini), 0600);
    }

    void login_data()
    {
        QTest::addColumn<int>("reply");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("accepted");
        const QString pw = AccountServiceStub::password();
        QTest::newRow("accepted") << int(Login::Token) << pw << "" << true;
        QTest::newRow("wrong password") << int(Login::Token) << "nope" << "Login failed: Invalid credentials" << false;
        QTest::newRow("not JSON: nothing shown") << int(Login::NotJson) << pw << "" << false;
        QTest::newRow("token that would add a header") << int(Login::HostileToken) << pw << "Invalid response from server" << false;
        QTest::newRow("error text with markup: shown as sent")
            << int(Login::MarkupError) << pw << "Login failed: " + AccountServiceStub::markup() << false;
    }
    void login()
    {
        QFETCH(int, reply);
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        AccountServiceStub stub;
        QVERIFY(stub.listen());
        stub.setLoginReply(Login(reply));
        LoginDialog d;
        d.setBaseUrl(stub.baseUrl());
        auto edit = [&d](const char *name) { return d.findChild<QLineEdit *>(QLatin1String(name)); };
        auto *button = d.findChild<QPushButton *>(u"loginButton"_s);
        edit("usernameEdit")->setText(AccountServiceStub::userName());
        edit("passwordEdit")->setText(password);
        QSignalSpy done(&d, &QDialog::accepted);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(edit("passwordEdit")->text().isEmpty()); // not kept once sent
        QTRY_VERIFY(button->isEnabled());
        const QLabel *status = d.findChild<QLabel *>(u"statusLabel"_s);
        QTEST(status->text(), "status");
        // As Qt decides it: without PlainText a label guesses from the first line.
        QVERIFY(status->textFormat() == Qt::PlainText || !Qt::mightBeRichText(status->text()));
        QCOMPARE(done.size(), int(accepted));
        QCOMPARE(d.getToken(), accepted ? AccountServiceStub::sessionToken() : QString());
    }
};

QTEST_MAIN(TestAccountSync)
#include "tst_accountsync.moc"
