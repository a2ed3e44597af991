#include "AccountServiceStub.h"
#include "LoginDialog.h"
#include "ServiceEndpoints.h"

#include <QJsonDocument>
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
        QSignalSpy accepted(&d, &QDialog::accepted);
        ui.submit(AccountServiceStub::userName(), AccountServiceStub::password());
        QVERIFY(!ui.login->isEnabled());
        // The password is not kept once it has been sent.
        QVERIFY(ui.password->text().isEmpty());
        QTRY_COMPARE(accepted.size(), 1);
        QCOMPARE(d.getToken(), AccountServiceStub::sessionToken());
        QCOMPARE(d.getUsername(), AccountServiceStub::userName());
    }

    void loginFails_data()
    {
        QTest::addColumn<int>("reply");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("status");
        using L = AccountServiceStub::LoginReply;
        const QString user = AccountServiceStub::userName(), pw = AccountServiceStub::password();
        QTest::newRow("no password") << int(L::Token) << user << "" << "Please enter both username and password";
        QTest::newRow("wrong password") << int(L::Token) << user << "nope" << "Login failed: Invalid credentials";
        QTest::newRow("user name sent untrimmed") << int(L::Token) << " alice" << pw << "Login failed: Invalid credentials";
        QTest::newRow("not JSON: nothing shown") << int(L::NotJson) << user << pw << "";
        QTest::newRow("token that would add a header") << int(L::HostileToken) << user << pw
                                                       << "Invalid response from server";
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
        QCOMPARE(ui.status->text(), status);
        QCOMPARE(accepted.size(), 0);
        QVERIFY(d.getToken().isEmpty());
        // Sent only when both are given, the user name exactly as typed.
        const QList<TestHttpServer::Request> sent = stub.server().requests();
        QCOMPARE(sent.size(), int(reply != Refused && !user.isEmpty() && !password.isEmpty()));
        if (!sent.isEmpty())
            QCOMPARE(QJsonDocument::fromJson(sent.first().body)[QStringLiteral("username")].toString(), user);
    }
};

QTEST_MAIN(TestLoginDialog)
#include "tst_logindialog.moc"
