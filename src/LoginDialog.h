#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the account's user name and password, sends them to the account
// service and, when it returns a session token, closes as accepted. Stores
// nothing and clears the password field as soon as it has been sent.
class LoginDialog : public QDialog
{
    Q_OBJECT
public:
    explicit LoginDialog(QWidget *parent = nullptr);

    QString getUsername() const { return username; }
    QString getToken() const { return token; }

    // Defaults to ServiceEndpoints::accountUrl().
    QString baseUrl() const { return m_baseUrl; }
    void setBaseUrl(const QString &url) { m_baseUrl = url; }
    // A login request taking longer than this fails (default 30 s).
    void setTimeout(int ms) { timeoutMs = ms; }

signals:
    // The account service's home page, where accounts are made.
    void signUpRequested(const QUrl &url);

private slots:
    void onLoginClicked();

private:
    void setupUI();

    QLineEdit *usernameEdit = nullptr;
    QLineEdit *passwordEdit = nullptr;
    QLabel *statusLabel = nullptr;
    QPushButton *loginButton = nullptr;
    QString username;
    QString token;
    QString m_baseUrl;
    int timeoutMs = 30000;
};
