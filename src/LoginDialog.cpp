#include "LoginDialog.h"

#include "AccountSyncManager.h"
#include "ServiceEndpoints.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QVBoxLayout>

LoginDialog::LoginDialog(QWidget *parent)
    : QDialog(parent)
    , m_baseUrl(ServiceEndpoints::accountUrl())
{
    setupUI();
}

void LoginDialog::setupUI()
{
    setWindowTitle(QStringLiteral("Login to OrvexVPN"));
    setFixedSize(350, 400);
    setStyleSheet(QStringLiteral("QDialog { background: #1e1e1e; }"));

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(15);
    layout->setContentsMargins(30, 30, 30, 30);

    auto *title = new QLabel(QStringLiteral("🔒 ORVEX VPN"), this);
    title->setAlignment(Qt::AlignCenter);
    title->setStyleSheet(QStringLiteral("font-size: 24px; font-weight: bold; color: #00d4ff; margin-bottom: 10px;"));
    layout->addWidget(title);

    auto *subtitle = new QLabel(QStringLiteral("Enter your credentials to sync VPN keys"), this);
    subtitle->setAlignment(Qt::AlignCenter);
    subtitle->setStyleSheet(QStringLiteral("color: #888;"));
    layout->addWidget(subtitle);

    const QString editStyle = QStringLiteral(
        "padding: 12px; background: #2d2d2d; border: 1px solid #404040; border-radius: 4px; color: white;");
    usernameEdit = new QLineEdit(this);
    usernameEdit->setObjectName(QStringLiteral("usernameEdit"));
    usernameEdit->setPlaceholderText(QStringLiteral("Username"));
    usernameEdit->setStyleSheet(editStyle);
    layout->addWidget(usernameEdit);

    passwordEdit = new QLineEdit(this);
    passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    passwordEdit->setPlaceholderText(QStringLiteral("Password"));
    passwordEdit->setEchoMode(QLineEdit::Password);
    passwordEdit->setStyleSheet(editStyle);
    layout->addWidget(passwordEdit);

    statusLabel = new QLabel(this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    // Shows the account service's error texts: never as rich text.
    statusLabel->setTextFormat(Qt::PlainText);
    statusLabel->setAlignment(Qt::AlignCenter);
    statusLabel->setWordWrap(true);
    statusLabel->setStyleSheet(QStringLiteral("color: #ff006e;"));
    layout->addWidget(statusLabel);

    loginButton = new QPushButton(QStringLiteral("Login & Sync"), this);
    loginButton->setObjectName(QStringLiteral("loginButton"));
    loginButton->setStyleSheet(QStringLiteral(
        "QPushButton { padding: 12px; background: #0078d4; border: none; border-radius: 4px; color: white; "
        "font-weight: bold; } QPushButton:hover { background: #0086ee; }"));
    connect(loginButton, &QPushButton::clicked, this, &LoginDialog::onLoginClicked);
    layout->addWidget(loginButton);

    auto *signUpButton = new QPushButton(QStringLiteral("Don't have an account? Sign up"), this);
    signUpButton->setObjectName(QStringLiteral("signUpButton"));
    signUpButton->setStyleSheet(QStringLiteral(
        "QPushButton { border: none; background: transparent; color: #00d4ff; text-decoration: underline; }"));
    connect(signUpButton, &QPushButton::clicked, this, [this] { emit signUpRequested(QUrl(m_baseUrl)); });
    layout->addWidget(signUpButton);

    layout->addStretch();
}

void LoginDialog::onLoginClicked()
{
    const QString user = usernameEdit->text();
    if (user.isEmpty() || passwordEdit->text().isEmpty()) {
        statusLabel->setText(QStringLiteral("Please enter both username and password"));
        return;
    }
    loginButton->setEnabled(false);
    loginButton->setText(QStringLiteral("Authenticating..."));
    statusLabel->clear();

    QJsonObject body;
    body.insert(QStringLiteral("username"), user);
    body.insert(QStringLiteral("password"), passwordEdit->text());
    // The password lives only in the request from here on.
    passwordEdit->clear();

    auto *manager = new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(m_baseUrl + QStringLiteral("/api/login")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(timeoutMs);
    QNetworkReply *reply = manager->post(request, QJsonDocument(body).toJson());
    body = QJsonObject();

    connect(reply, &QNetworkReply::finished, this, [this, reply, manager, user] {
        reply->deleteLater();
        manager->deleteLater();
        loginButton->setEnabled(true);
        loginButton->setText(QStringLiteral("Login & Sync"));
        if (reply->error() != QNetworkReply::NoError) {
            statusLabel->setText(QStringLiteral("Network error: ") + reply->errorString());
            return;
        }
        const QJsonObject object = QJsonDocument::fromJson(reply->readAll()).object();
        if (object.contains(QLatin1String("token"))) {
            const QString received = object.value(QLatin1String("token")).toString();
            // The token becomes a cookie header later: refuse anything else.
            if (!AccountSyncManager::isUsableToken(received)) {
                statusLabel->setText(QStringLiteral("Invalid response from server"));
                return;
            }
            token = received;
            username = user;
            accept();
        } else if (object.contains(QLatin1String("error"))) {
            statusLabel->setText(QStringLiteral("Login failed: ") + object.value(QLatin1String("error")).toString());
        }
    });
}
