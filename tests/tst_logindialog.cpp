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
    QPushButton *signUp;
    explicit Ui(LoginDialog &d)
        : user(d.findChild<QLineEdit *>(QStringLiteral("usernameEdit")))
        , password(d.findChild<QLineEdit *>(QStringLiteral("passwordEdit")))
        , status(d.findChild<QLabel *>(QStringLiteral("statusLabel")))
        , login(d.findChild<QPushButton *>(QStringLiteral("loginButton")))
        , signUp(d.findChild<QPushButton *>(QStringLiteral("signUpButton")))
    {
    }
};
}

class TestLoginDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }
    void cleanup() { ServiceEndpoints::reset(); }

    void layout()
    {
        LoginDialog d;
        Ui ui(d);
        QVERIFY(ui.user && ui.password && ui.status && ui.login && ui.signUp);
        QCOMPARE(d.windowTitle(), QStringLiteral("Login to OrvexVPN"));
        QCOMPARE(d.size(), QSize(350, 400));
        QCOMPARE(ui.password->echoMode(), QLineEdit::Password);
        QCOMPARE(ui.login->text(), QStringLiteral("Login & Sync"));
        QCOMPARE(ui.signUp->text(), QStringLiteral("Don't have an account? Sign up"));
        QCOMPARE(d.baseUrl(), ServiceEndpoints::accountUrl());
    }

    void missingField_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("no password") << "alice" << "";
        QTest::newRow("no user") << "" << "pw";
    }
    void missingField()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        AccountServiceStub stub;
        QVERIFY(stub.listen());
        LoginDialog d;
        d.setBaseUrl(stub.baseUrl());
        Ui ui(d);
        ui.user->setText(user);
        ui.password->setText(password);
        QTest::mouseClick(ui.login, Qt::LeftButton);
        QCOMPARE(ui.status->text(), QStringLiteral("Please enter both username and password"));
        QTest::qWait(100);
        QCOMPARE(stub.server().requests().size(), 0);
        QVERIFY(ui.login->isEnabled());
    }

    void loginSucceeds()
    {
        AccountServiceStub stub;
        QVERIFY(stub.listen());
        ServiceEndpoints::setAccountUrl(stub.baseUrl());
        LoginDialog d;
        Ui ui(d);
        QSignalSpy accepted(&d, &QDialog::accepted);
        ui.user->setText(AccountServiceStub::userName());
        ui.password->setText(AccountServiceStub::password());
        QTest::mouseClick(ui.login, Qt::LeftButton);
        QVERIFY(!ui.login->isEnabled());
        QCOMPARE(ui.login->text(), QStringLiteral("Authenticating..."));
        // The password is not kept once it has been sent.
        QVERIFY(ui.password->text().isEmpty());
        QTRY_COMPARE(accepted.size(), 1);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(d.getToken(), AccountServiceStub::sessionToken());
        QCOMPARE(d.getUsername(), AccountServiceStub::userName());

        const TestHttpServer::Request req = stub.server().requestsFor("/api/login").value(0);
        QCOMPARE(req.method, QByteArray("POST"));
        QCOMPARE(req.header("content-type"), QByteArray("application/json"));
        const QJsonObject expected{{QStringLiteral("username"), AccountServiceStub::userName()},
                                   {QStringLiteral("password"), AccountServiceStub::password()}};
        QCOMPARE(req.body, QJsonDocument(expected).toJson());
    }

    // A user name is sent and kept exactly as typed.
    void userNameNotTrimmed()
    {
        AccountServiceStub stub;
        QVERIFY(stub.listen());
        LoginDialog d;
        d.setBaseUrl(stub.baseUrl());
        Ui ui(d);
        ui.user->setText(QStringLiteral(" alice"));
        ui.password->setText(AccountServiceStub::password());
        QTest::mouseClick(ui.login, Qt::LeftButton);
        QTRY_COMPARE(ui.status->text(), QStringLiteral("Login failed: Invalid credentials"));
        QCOMPARE(QJsonDocument::fromJson(stub.server().requests().value(0).body).object().value(QStringLiteral("username")).toString(),
                 QStringLiteral(" alice"));
    }

    void loginFails_data()
    {
        QTest::addColumn<int>("reply");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("status");
        using L = AccountServiceStub::LoginReply;
        QTest::newRow("wrong password") << int(L::Token) << "nope" << "Login failed: Invalid credentials";
        QTest::newRow("error member") << int(L::Error) << AccountServiceStub::password() << "Login failed: Invalid credentials";
        QTest::newRow("not JSON: nothing shown") << int(L::NotJson) << AccountServiceStub::password() << "";
        QTest::newRow("token that would add a header") << int(L::HostileToken) << AccountServiceStub::password()
                                                       << "Invalid response from server";
        QTest::newRow("timeout") << int(L::Slow) << AccountServiceStub::password() << "Network error: ";
    }
    void loginFails()
    {
        QFETCH(int, reply);
        QFETCH(QString, password);
        QFETCH(QString, status);
        AccountServiceStub stub;
        QVERIFY(stub.listen());
        stub.setLoginReply(AccountServiceStub::LoginReply(reply));
        stub.setSlowDelayMs(3000);
        LoginDialog d;
        d.setBaseUrl(stub.baseUrl());
        d.setTimeout(300);
        Ui ui(d);
        QSignalSpy accepted(&d, &QDialog::accepted);
        ui.user->setText(AccountServiceStub::userName());
        ui.password->setText(password);
        QTest::mouseClick(ui.login, Qt::LeftButton);
        QTRY_VERIFY(ui.login->isEnabled());
        QCOMPARE(ui.login->text(), QStringLiteral("Login & Sync"));
        if (status.endsWith(QLatin1Char(' ')))
            QVERIFY2(ui.status->text().startsWith(status), qPrintable(ui.status->text()));
        else
            QCOMPARE(ui.status->text(), status);
        QCOMPARE(accepted.size(), 0);
        QVERIFY(d.getToken().isEmpty());
        QVERIFY(d.getUsername().isEmpty());
    }

    void networkError()
    {
        LoginDialog d;
        d.setBaseUrl(QStringLiteral("http://127.0.0.1:1"));
        Ui ui(d);
        ui.user->setText(QStringLiteral("a"));
        ui.password->setText(QStringLiteral("b"));
        QTest::mouseClick(ui.login, Qt::LeftButton);
        QTRY_VERIFY(ui.login->isEnabled());
        QCOMPARE(ui.status->text(), QStringLiteral("Network error: Connection refused"));
    }

    void signUpOpensTheAccountService()
    {
        ServiceEndpoints::setAccountUrl(QStringLiteral("http://127.0.0.1:9/"));
        LoginDialog d;
        Ui ui(d);
        QSignalSpy signUp(&d, &LoginDialog::signUpRequested);
        QTest::mouseClick(ui.signUp, Qt::LeftButton);
        QCOMPARE(signUp.size(), 1);
        QCOMPARE(signUp.at(0).at(0).toUrl(), QUrl(QStringLiteral("http://127.0.0.1:9")));
        QVERIFY(d.isVisible() == false && d.result() == 0);
    }
};

QTEST_MAIN(TestLoginDialog)
#include "tst_logindialog.moc"
