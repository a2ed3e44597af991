#pragma once

#include <QSet>
#include <QUrl>
#include <QWebEngineCertificateError>
#include <QWebEnginePage>

#include <functional>

class QAuthenticator;

// The page of every tab and popup. It is the one place every navigation
// passes: while the VPN gate is closed a web address is refused here, whoever
// asked for it (a typed address, a bookmark, a link, a script, a popup).
// It also answers what pages ask of the browser: new windows, credentials,
// certificate errors.
class WebPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit WebPage(QWebEngineProfile *profile, QObject *parent = nullptr);

    // Makes the page for a new tab or window the page asked for; null refuses it.
    using WindowCreator = std::function<QWebEnginePage *(WebWindowType type)>;
    void setWindowCreator(WindowCreator creator) { m_windowCreator = std::move(creator); }

    // Asks for a user name and password for `site` (a host, or a proxy's host);
    // false cancels. The default shows an AuthenticationDialog.
    using CredentialsAsker = std::function<bool(QWidget *parent, const QString &site, const QString &realm,
                                                bool proxy, QString *user, QString *password)>;
    void setCredentialsAsker(CredentialsAsker asker) { m_asker = std::move(asker); }

    // Certificate errors the user chose to get past, for this run only.
    static bool isCertificateExceptionKnown(const QUrl &url, int errorType);
    static void rememberCertificateException(const QUrl &url, int errorType);
    static void forgetCertificateExceptions();

Q_SIGNALS:
    // A main-frame navigation the gate refused (queued: safe to load from).
    void navigationRefused(const QUrl &url);
    // A navigation of the page or one of its frames is about to start:
    // emitted from inside the engine's callback, before the request leaves,
    // so what the new document needs (its scripts) can be set up in time.
    // Don't load anything from a slot of it.
    void navigationAccepted(const QUrl &url, bool isMainFrame);
    // A certificate error of the page's own address, deferred until the user
    // decides through accept/rejectCertificate. Errors of sub-resources are
    // refused without asking.
    void certificateErrorRaised(const QWebEngineCertificateError &error);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;

private:
    void onAuthenticationRequired(const QUrl &url, QAuthenticator *authenticator, const QString &proxyHost,
                                  bool proxy);
    void onCertificateError(const QWebEngineCertificateError &error);

    WindowCreator m_windowCreator;
    CredentialsAsker m_asker;
    QUrl m_mainFrameUrl;
    bool m_asking = false;
};
