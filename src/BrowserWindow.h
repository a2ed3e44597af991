#pragma once

#include <QJsonObject>
#include <QPixmap>
#include <QWebEngineCertificateError>
#include <QWebEngineFullScreenRequest>

#include <optional>
#include <QUrl>
#include <QWidget>

class DevTools;
class ErrorPage;
class FaviconManager;
class PrivacyEngine;
class QStackedLayout;
class QWebEngineDownloadRequest;
class QWebEngineProfile;
class QWebEngineView;
class WebPage;

// The content of one tab: a web view with its own privacy engine, favicon
// fetcher, optional developer tools, zoom, reader-mode and mute state.
class BrowserWindow : public QWidget
{
    Q_OBJECT
public:
    // privacySettings: the stored settings object; the tab's privacy engine
    // starts from it (a missing switch counts as on) before any page loads.
    // `favicons` is shared by the window's tabs (one cache, one network
    // manager); without it the tab keeps a manager of its own. `profile` is
    // the web profile of the tab's window (the default profile when null).
    explicit BrowserWindow(QWidget *parent = nullptr, const QJsonObject &privacySettings = QJsonObject(),
                           FaviconManager *favicons = nullptr, QWebEngineProfile *profile = nullptr);
    ~BrowserWindow() override;

    static QString vpnWarningAddress() { return QStringLiteral("about:vpn-required"); }
    static QString vpnWarningHtml();
    static QString readerModeScript();

    // Loads url, or shows the VPN warning in its place while the gate refuses it.
    void loadUrl(const QUrl &url);
    void goBack();
    void goForward();
    void reload();
    void reloadBypassingCache();
    void stop();
    bool canGoBack() const;
    bool canGoForward() const;
    bool isLoading() const { return loading; }
    QUrl url() const;
    QString title() const;

    // The page's back/forward list, to reopen a closed tab where it was.
    QByteArray saveHistory() const;
    // Restores a list saved by saveHistory(); false (and nothing loaded) when
    // the data is unusable or the current entry may not be loaded now.
    bool restoreHistory(const QByteArray &data);

    void findInPage(const QString &text);
    void findNext();
    void findPrevious();

    // Renders the page to "orvexbrowser_print.pdf" in a folder private to
    // this user (PrivateFolder) and opens it; printFailed() tells otherwise.
    void print();
    void printToPdf(const QString &filePath);
    // Empty when no private folder could be had.
    static QString printFilePath();
    // Waits (bounded) for PDFs still being rendered for closed tabs; call at
    // shutdown after the window is gone, before the application object dies.
    static void finishPendingPrints(int timeoutMs = 5000);

    void zoomIn();
    void zoomOut();
    void zoomReset();
    void setZoomFactor(double factor);
    double zoomFactor() const { return zoomLevel; }

    void showDevTools();
    void hideDevTools();
    bool isDevToolsVisible() const;
    DevTools *devToolsPanel() const { return devTools; }

    QPixmap favicon() const { return currentFavicon; }
    void toggleReaderMode();
    bool isReaderMode() const { return readerMode; }
    void setMuted(bool mute);
    bool isMuted() const { return muted; }

    // Shows the VPN warning page. The web address that was refused (given, or
    // the page being replaced) is remembered until the tab navigates elsewhere,
    // so the session keeps it and the tab can return to it.
    void showVPNWarning(const QUrl &refusedUrl = QUrl());
    // True from the call of showVPNWarning on, before the page has loaded.
    bool isShowingVPNWarning() const;
    QUrl refusedUrl() const { return pendingUrl; }
    // What the session stores for this tab: the refused address while the
    // warning page stands in for it, otherwise the current address.
    QString sessionUrl() const;

    QWebEngineView *webView() const { return view; }
    WebPage *page() const { return webPage; }
    PrivacyEngine *privacy() const { return privacyEngine; }
    // Shown instead of the page after a certificate error or a crash; null until needed.
    ErrorPage *errorPage() const { return errorView; }
    bool isShowingErrorPage() const;

Q_SIGNALS:
    void urlChanged(const QUrl &url);
    void titleChanged(const QString &title);
    void loadStarted();
    void loadFinished(bool ok);
    void faviconChanged(const QPixmap &pixmap);
    void zoomFactorChanged(double factor);
    void downloadRequested(QWebEngineDownloadRequest *download);
    // The page asks for the whole screen for its view (or to leave it).
    void fullScreenRequested(QWebEngineFullScreenRequest request);
    // Back/forward possibilities or the loading state changed.
    void navigationStateChanged();
    void printFailed(const QString &message);

private Q_SLOTS:
    void onUrlChanged(const QUrl &url);
    void onTitleChanged(const QString &title);
    void onLoadStarted();
    void onLoadFinished(bool ok);
    void onFaviconLoaded(const QUrl &pageUrl, const QPixmap &icon);

private:
    void onProfileDownload(QWebEngineDownloadRequest *download);
    void renderPdf(const QString &filePath, bool openWhenDone);
    void onCertificateError(const QWebEngineCertificateError &error);
    void onRenderProcessTerminated(int status);
    ErrorPage *ensureErrorPage();
    void hideErrorPage();

    QStackedLayout *layout = nullptr;
    QWebEngineView *view = nullptr;
    WebPage *webPage = nullptr;
    ErrorPage *errorView = nullptr;
    std::optional<QWebEngineCertificateError> pendingCertificate;
    bool loading = false;
    PrivacyEngine *privacyEngine = nullptr;
    DevTools *devTools = nullptr;
    FaviconManager *faviconManager = nullptr;
    QPixmap currentFavicon;
    double zoomLevel = 1.0;
    bool readerMode = false;
    bool muted = false;
    QUrl pendingUrl;
    bool warningRequested = false;
};
