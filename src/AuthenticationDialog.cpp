#include "AuthenticationDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

AuthenticationDialog::AuthenticationDialog(const QString &site, const QString &realm, bool proxy, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(proxy ? tr("Proxy Authentication Required") : tr("Authentication Required"));
    auto *layout = new QVBoxLayout(this);
    auto *text = new QLabel(question(site, proxy), this);
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    layout->addWidget(text);
    if (!realm.isEmpty()) {
        auto *realmLabel = new QLabel(tr("The site says: \u201C%1\u201D").arg(realm.left(200)), this);
        realmLabel->setTextFormat(Qt::PlainText);
        realmLabel->setWordWrap(true);
        layout->addWidget(realmLabel);
    }
    auto *form = new QFormLayout;
    m_user = new QLineEdit(this);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(tr("User name:"), m_user);
    form->addRow(tr("Password:"), m_password);
    layout->addLayout(form);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Sign in"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    m_user->setFocus();
}

QString AuthenticationDialog::user() const
{
    return m_user->text();
}

QString AuthenticationDialog::password() const
{
    return m_password->text();
}

QString AuthenticationDialog::question(const QString &site, bool proxy)
{
    return proxy ? tr("The proxy %1 asks for a user name and password.").arg(site)
                 : tr("%1 asks for a user name and password.").arg(site);
}

bool AuthenticationDialog::ask(QWidget *parent, const QString &site, const QString &realm, bool proxy,
                               QString *user, QString *password)
{
    // The tab may close while the question is open and take its children
    // along: the dialog lives on the heap and is checked after exec().
    QPointer<AuthenticationDialog> dialog = new AuthenticationDialog(site, realm, proxy, parent);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!dialog)
        return false;
    if (accepted) {
        *user = dialog->user();
        *password = dialog->password();
    }
    delete dialog;
    return accepted;
}
