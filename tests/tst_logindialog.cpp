#include "AccountServiceStub.h"
#include "LoginDialog.h"
#include "ServiceEndpoints.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {
struct Ui {
    QLineEdit *user;
    QLineEdit *password;
    QLabel *status;
    QPushButton *login;
    explicit Ui(LoginDialog &d)
        : user(d.findChild<QLineEdit *>(QStringLiteral("usernameEdit")))
        , password(d.findChild<QLineEdit *>(QStringLiteral("passwordEdit")))
        , status(d.findChild<QLabel *>(QStringLiteral("statusLabel")))
        , login(d.findChild<QPushButton *>(QStringLiteral("loginButton")))
    {
    }
    void submit(const QString &name, const QString &pw) const
    {
        user->setText(name);
        password->setText(pw);
        QTest::mouseClick(login, Qt::LeftButton);
    }
};

constexpr int Refused = -1; // nothing listens on the service's port
}

class TestLoginDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }
    void cleanup() { ServiceEndpoints::reset(); }

    void loginSucceeds()
    {
        AccountServiceStub stub;
        QVERIFY(stub.listen());
        ServiceEndpoints::setAccountUrl(stub.baseUrl());
        LoginDialog d;
        Ui ui(d);
        QCOMPARE(ui.password->echoMode(), QLineEdit::Password);
        QSignalSpy accepted(&d, &QDialog::accepted);
        ui.submit(AccountServiceStub::userName(), AccountServiceStub::password());
        QVERIFY(!ui.login->isEnabled());
        // The password is not kept once it has been sent.
        QVERIFY(ui.password->text().isEmpty());
        QTRY_COMPARE(accepted.size(), 1);
        QCOMPARE(d.getToken(), AccountServiceStub::sessionToken());
        QCOMPARE(d.getUsername(), AccountServiceStub::userName());

        const TestHttpServer::Request req = stub.server().requestsFor("/api/login").value(0);
        QCOMPARE(req.method, QByteArray("POST"));
        QCOMPARE(req.header("content-type"), QByteArray("application/json"));
        const QJsonObject expected{{QStringLiteral("username"), AccountServiceStub::userName()},
                                   {QStringLiteral("password"), AccountServiceStub::password()}};
        QCOMPARE(req.body, QJsonDocument(expected).toJson());
    }

    // A status ending in a blank is a prefix.
    void loginFails_data()
    {
        QTest::addColumn<int>("reply");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("status");
        using L = AccountServiceStub::LoginReply;
        const QString user = AccountServiceStub::userName(), pw = AccountServiceStub::password();
        QTest::newRow("no password") << int(L::Token) << user << "" << "Please enter both username and password";
        QTest::newRow("no user") << int(L::Token) << "" << pw << "Please enter both username and password";
        QTest::newRow("wrong password") << int(L::Token) << user << "nope" << "Login failed: Invalid credentials";
        QTest::newRow("user name sent untrimmed") << int(L::Token) << " alice" << pw << "Login failed: Invalid credentials";
        QTest::newRow("error member") << int(L::Error) << user << pw << "Login failed: Invalid credentials";
        QTest::newRow("not JSON: nothing shown") << int(L::NotJson) << user << pw << "";
        QTest::newRow("token that would add a header") << int(L::HostileToken) << user << pw
                                                       << "Invalid response from server";
        QTest::newRow("timeout") << int(L::Slow) << user << pw << "Network error: ";
        QTest::newRow("refused") << Refused << user << pw << "Network error: Connection refused";
    }
    void loginFails()
    {
        QFETCH(int, reply);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, status);
        AccountServiceStub stub;
        QVERIFY(stub.listen());
        stub.setLoginReply(AccountServiceStub::LoginReply(reply));
        LoginDialog d;
        d.setBaseUrl(reply == Refused ? QStringLiteral("http://127.0.0.1:1") : stub.baseUrl());
        d.setTimeout(300);
        Ui ui(d);
        QSignalSpy accepted(&d, &QDialog::accepted);
        ui.submit(user, password);
        QTRY_VERIFY(ui.login->isEnabled());
        QCOMPARE(ui.login->text(), QStringLiteral("Login & Sync"));
        if (status.endsWith(QLatin1Char(' ')))
            QVERIFY2(ui.status->text().startsWith(status), qPrintable(ui.status->text()));
        else
            QCOMPARE(ui.status->text(), status);
        QCOMPARE(accepted.size(), 0);
        QVERIFY(d.getToken().isEmpty());
        QVERIFY(d.getUsername().isEmpty());
        // Sent only when both are given, the user name exactly as typed.
        const QList<TestHttpServer::Request> sent = stub.server().requests();
        QCOMPARE(sent.size(), int(reply != Refused && !user.isEmpty() && !password.isEmpty()));
        if (!sent.isEmpty())
            QCOMPARE(QJsonDocument::fromJson(sent.first().body)[QStringLiteral("username")].toString(), user);
    }

    void signUpOpensTheAccountService()
    {
        ServiceEndpoints::setAccountUrl(QStringLiteral("http://127.0.0.1:9/"));
        LoginDialog d;
        QSignalSpy signUp(&d, &LoginDialog::signUpRequested);
        QTest::mouseClick(d.findChild<QPushButton *>(QStringLiteral("signUpButton")), Qt::LeftButton);
        QCOMPARE(signUp.size(), 1);
        QCOMPARE(signUp.at(0).at(0).toUrl(), QUrl(QStringLiteral("http://127.0.0.1:9")));
        QCOMPARE(d.result(), 0);
    }
};

QTEST_MAIN(TestLoginDialog)
#include "tst_logindialog.moc"
