#include "WebPage.h"

#include "AuthenticationDialog.h"
#include "VpnGate.h"

#include <QAuthenticator>
#include <QMetaMethod>
#include <QPointer>
#include <QTimer>
#include <QWebEngineView>

namespace {
QSet<QString> &certificateExceptions()
{
    static QSet<QString> exceptions;
    return exceptions;
}

QString exceptionKey(const QUrl &url, int errorType)
{
    return url.host(QUrl::FullyDecoded).toLower() + QLatin1Char(':')
        + QString::number(url.port(url.scheme() == QLatin1String("https") ? 443 : 80)) + QLatin1Char('/')
        + QString::number(errorType);
}

bool sameAddress(const QUrl &a, const QUrl &b)
{
    return a.adjusted(QUrl::RemoveFragment) == b.adjusted(QUrl::RemoveFragment);
}
}

WebPage::WebPage(QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent)
{
    connect(this, &QWebEnginePage::authenticationRequired, this,
            [this](const QUrl &url, QAuthenticator *authenticator) {
                onAuthenticationRequired(url, authenticator, QString(), false);
            });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [this](const QUrl &url, QAuthenticator *authenticator, const QString &proxyHost) {
                onAuthenticationRequired(url, authenticator, proxyHost, true);
            });
    connect(this, &QWebEnginePage::certificateError, this, &WebPage::onCertificateError);
}

bool WebPage::isCertificateExceptionKnown(const QUrl &url, int errorType)
{
    return certificateExceptions().contains(exceptionKey(url, errorType));
}

void WebPage::rememberCertificateException(const QUrl &url, int errorType)
{
    certificateExceptions().insert(exceptionKey(url, errorType));
}

void WebPage::forgetCertificateExceptions()
{
    certificateExceptions().clear();
}

bool WebPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (!VpnGate::allows(url)) {
        // Loading the stand-in from inside the engine's callback is not
        // allowed: the owner hears of it on the next turn of the event loop.
        if (isMainFrame)
            QMetaObject::invokeMethod(this, [this, url] { emit navigationRefused(url); }, Qt::QueuedConnection);
        return false;
    }
    if (isMainFrame)
        m_mainFrameUrl = url;
    if (!QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame))
        return false;
    emit navigationAccepted(url, isMainFrame);
    return true;
}

QWebEnginePage *WebPage::createWindow(WebWindowType type)
{
    return m_windowCreator ? m_windowCreator(type) : nullptr;
}

void WebPage::onAuthenticationRequired(const QUrl &url, QAuthenticator *authenticator, const QString &proxyHost,
                                       bool proxy)
{
    // One question at a time: a page that keeps asking (every frame, or a
    // server that always answers 401) must not stack dialogs.
    if (m_asking) {
        *authenticator = QAuthenticator();
        return;
    }
    const QString site = proxy ? proxyHost : url.host(QUrl::FullyDecoded);
    QString user;
    QString password;
    m_asking = true;
    QPointer<WebPage> alive(this);
    const CredentialsAsker asker = m_asker ? m_asker : CredentialsAsker(&AuthenticationDialog::ask);
    const bool given = asker(QWebEngineView::forPage(this), site, authenticator->realm(), proxy, &user, &password);
    if (!alive)
        return;
    m_asking = false;
    if (!given) {
        // A null authenticator cancels the request.
        *authenticator = QAuthenticator();
        return;
    }
    authenticator->setUser(user);
    authenticator->setPassword(password);
}

void WebPage::onCertificateError(const QWebEngineCertificateError &error)
{
    QWebEngineCertificateError copy = error;
    if (isCertificateExceptionKnown(error.url(), error.type()) && error.isOverridable()) {
        copy.acceptCertificate();
        return;
    }
    // Only the page's own address gets a question; a broken image or script
    // of an otherwise sound page is simply not loaded.
    if (!sameAddress(error.url(), m_mainFrameUrl)) {
        copy.rejectCertificate();
        return;
    }
    if (!isSignalConnected(QMetaMethod::fromSignal(&WebPage::certificateErrorRaised))) {
        copy.rejectCertificate();
        return;
    }
    copy.defer();
    emit certificateErrorRaised(copy);
}
