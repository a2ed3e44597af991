#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

// Asks for the user name and password a site or a proxy wants. The site and
// its realm come from the network: they are shown as plain text.
class AuthenticationDialog : public QDialog
{
    Q_OBJECT
public:
    AuthenticationDialog(const QString &site, const QString &realm, bool proxy, QWidget *parent = nullptr);

    QString user() const;
    QString password() const;
    QLineEdit *userField() const { return m_user; }
    QLineEdit *passwordField() const { return m_password; }

    static QString question(const QString &site, bool proxy);
    // Modal question; false when cancelled.
    static bool ask(QWidget *parent, const QString &site, const QString &realm, bool proxy, QString *user,
                    QString *password);

private:
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr;
};
