#include "ErrorPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ErrorPage::ErrorPage(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("errorPage"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral(
        "#errorPage { background: #0f0f12; }"
        "#errorCard { background: #18181b; border: 1px solid #2a2a30; border-radius: 16px; }"
        "#errorTitle { color: #ffffff; font-size: 22px; font-weight: 600; }"
        "#errorBody { color: #a0a0b0; font-size: 14px; }"
        "QPushButton { padding: 8px 18px; border-radius: 6px; font-weight: 600; }"
        "QPushButton:default { background: #0078d4; color: white; border: none; }"
        "QPushButton:!default { background: transparent; color: #d0d0d0; border: 1px solid #3a3a40; }"));

    auto *outer = new QVBoxLayout(this);
    auto *card = new QWidget(this);
    card->setObjectName(QStringLiteral("errorCard"));
    card->setAttribute(Qt::WA_StyledBackground);
    // A fixed width lets the wrapped labels take the height they need.
    card->setFixedWidth(560);
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(36, 32, 36, 32);
    layout->setSpacing(14);
    m_title = new QLabel(card);
    m_title->setObjectName(QStringLiteral("errorTitle"));
    m_title->setTextFormat(Qt::PlainText);
    m_title->setWordWrap(true);
    m_body = new QLabel(card);
    m_body->setObjectName(QStringLiteral("errorBody"));
    m_body->setTextFormat(Qt::PlainText);
    m_body->setWordWrap(true);
    m_body->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_title);
    layout->addWidget(m_body);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    m_secondary = new QPushButton(card);
    m_primary = new QPushButton(card);
    buttons->addWidget(m_secondary);
    buttons->addWidget(m_primary);
    layout->addLayout(buttons);
    // Centred by stretches, not by alignment: an aligned item gets its size
    // hint, and the wrapped labels would not get the height their width needs.
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(card);
    row->addStretch();
    outer->addStretch();
    outer->addLayout(row);
    outer->addStretch(2);

    connect(m_primary, &QPushButton::clicked, this, [this] {
        if (m_kind == Kind::Crashed)
            emit reloadClicked();
        else if (m_kind == Kind::CertificateError)
            emit backToSafetyClicked();
    });
    connect(m_secondary, &QPushButton::clicked, this, [this] {
        if (m_kind == Kind::CertificateError)
            emit continueClicked();
    });
}

void ErrorPage::showCertificateError(const QString &host, const QString &error, bool overridable)
{
    show(Kind::CertificateError, tr("Your connection to %1 is not private").arg(host),
         tr("The site's certificate could not be trusted: %1\n\n"
            "Someone may be trying to read or change what you send and receive. "
            "Nothing was sent to the site.")
             .arg(error),
         tr("Back to safety"), overridable ? tr("Continue anyway") : QString());
}

void ErrorPage::showCrashed()
{
    show(Kind::Crashed, tr("This tab crashed"),
         tr("The page's process ended unexpectedly. Reload to try again."), tr("Reload"), QString());
}

void ErrorPage::show(Kind kind, const QString &title, const QString &body, const QString &primary,
                     const QString &secondary)
{
    m_kind = kind;
    // The style sheet's fonts must be in place before the labels measure their text.
    ensurePolished();
    m_title->ensurePolished();
    m_body->ensurePolished();
    m_title->setText(title);
    m_body->setText(body);
    m_primary->setText(primary);
    m_secondary->setText(secondary);
    m_secondary->setVisible(!secondary.isEmpty());
    m_primary->setDefault(true);
    m_primary->setAutoDefault(true);
    m_secondary->setAutoDefault(false);
    m_primary->setFocus();
}

QString ErrorPage::titleText() const
{
    return m_title->text();
}

QString ErrorPage::bodyText() const
{
    return m_body->text();
}
