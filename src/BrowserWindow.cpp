#include "BrowserWindow.h"

#include "DevTools.h"
#include "FaviconManager.h"
#include "PrivacyEngine.h"
#include "StoreFile.h"
#include "WebSettingsApplier.h"

#include <QDesktopServices>
#include <QList>
#include <QPageLayout>
#include <QPageSize>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {
const char kPendingPrints[] = "orvexPendingPrints";
const char kUserAgent[] = "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
                          "OrvexBrowser/2.0 Chrome/120.0.0.0 Safari/537.36";

// Live tabs in creation order: decides which tab relays a profile-wide
// download that belongs to no tab's page.
QList<BrowserWindow *> &liveTabs()
{
    static QList<BrowserWindow *> tabs;
    return tabs;
}

// Views of closed tabs kept alive until their PDFs arrive.
QList<QPointer<QWebEngineView>> &printingOrphans()
{
    static QList<QPointer<QWebEngineView>> views;
    return views;
}
}

BrowserWindow::BrowserWindow(QWidget *parent, const QJsonObject &privacySettings, FaviconManager *favicons)
    : QWidget(parent)
{
    privacyEngine = new PrivacyEngine(this);
    privacyEngine->applySettings(privacySettings);
    faviconManager = favicons ? favicons : new FaviconManager(this);

    layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    view = new QWebEngineView(this);
    // The tab's icon comes from the favicon manager; the engine's own fetch
    // would ask every site for it a second time.
    view->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    privacyEngine->applyPrivacySettings(view);

    QWebEngineProfile *profile = view->page()->profile();
    // JavaScript, PDF viewer, font size: set on the profile, so every page of it follows.
    WebSettingsApplier::apply(profile->settings(), privacySettings);
    // Profile-wide: the first tab sets it, later tabs find it set.
    const QString userAgent = QString::fromLatin1(kUserAgent);
    if (profile->httpUserAgent() != userAgent)
        profile->setHttpUserAgent(userAgent);
    // The profile is shared by every tab: each download must leave through one tab only.
    connect(profile, &QWebEngineProfile::downloadRequested, this, &BrowserWindow::onProfileDownload);
    liveTabs().append(this);

    layout->addWidget(view);

    connect(view, &QWebEngineView::urlChanged, this, &BrowserWindow::onUrlChanged);
    connect(view, &QWebEngineView::titleChanged, this, &BrowserWindow::onTitleChanged);
    connect(view, &QWebEngineView::loadStarted, this, &BrowserWindow::onLoadStarted);
    connect(view, &QWebEngineView::loadFinished, this, &BrowserWindow::onLoadFinished);
    connect(faviconManager, &FaviconManager::faviconLoaded, this, &BrowserWindow::onFaviconLoaded);
}

BrowserWindow::~BrowserWindow()
{
    liveTabs().removeAll(this);
    delete devTools;
    devTools = nullptr;
    // The engine crashes when a page dies with a PDF still being rendered:
    // such a view outlives its tab, hidden, until its last PDF has arrived.
    if (view->property(kPendingPrints).toInt() > 0) {
        view->hide();
        view->setParent(nullptr);
        printingOrphans().append(view);
        QTimer::singleShot(120000, view, &QObject::deleteLater);
    }
}

void BrowserWindow::finishPendingPrints(int timeoutMs)
{
    auto pending = [] {
        auto &views = printingOrphans();
        views.removeAll(QPointer<QWebEngineView>());
        return !views.isEmpty();
    };
    QElapsedTimer clock;
    clock.start();
    while (pending() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void BrowserWindow::onProfileDownload(QWebEngineDownloadRequest *download)
{
    if (!download)
        return;
    QWebEnginePage *origin = download->page();
    if (origin == view->page()) {
        emit downloadRequested(download);
        return;
    }
    // No tab owns the page (a closed tab, a popup, the engine itself): the
    // oldest live tab relays it.
    for (BrowserWindow *tab : liveTabs()) {
        if (origin && tab->view->page() == origin)
            return;
    }
    if (!liveTabs().isEmpty() && liveTabs().first() == this)
        emit downloadRequested(download);
}

void BrowserWindow::loadUrl(const QUrl &url)
{
    warningRequested = false;
    view->load(url);
    faviconManager->loadFavicon(url);
}

void BrowserWindow::goBack() { view->back(); }
void BrowserWindow::goForward() { view->forward(); }
void BrowserWindow::reload() { view->reload(); }
bool BrowserWindow::canGoBack() const { return view->history()->canGoBack(); }
bool BrowserWindow::canGoForward() const { return view->history()->canGoForward(); }
QUrl BrowserWindow::url() const { return view->url(); }
QString BrowserWindow::title() const { return view->title(); }

void BrowserWindow::findInPage(const QString &text)
{
    view->findText(text);
}

void BrowserWindow::findNext()
{
    view->findText(view->selectedText());
}

void BrowserWindow::findPrevious()
{
    view->findText(view->selectedText(), QWebEnginePage::FindBackward);
}

QString BrowserWindow::printFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/orvexbrowser_print.pdf");
}

void BrowserWindow::print()
{
    renderPdf(printFilePath(), true);
}

void BrowserWindow::printToPdf(const QString &filePath)
{
    renderPdf(filePath, false);
}

void BrowserWindow::renderPdf(const QString &filePath, bool openWhenDone)
{
    const QPageLayout pageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                 QMarginsF(0, 0, 0, 0), QPageLayout::Point, QMarginsF(0, 0, 0, 0));
    // The callback may run after this tab is gone: it holds only its own
    // copies and a guarded pointer to the view it may have to release.
    view->setProperty(kPendingPrints, view->property(kPendingPrints).toInt() + 1);
    QPointer<QWebEngineView> printingView(view);
    view->page()->printToPdf(
        [filePath, openWhenDone, printingView](const QByteArray &pdf) {
            if (printingView) {
                const int left = printingView->property(kPendingPrints).toInt() - 1;
                printingView->setProperty(kPendingPrints, left);
                if (left <= 0 && !printingView->parent())
                    printingView->deleteLater();
            }
            if (pdf.isEmpty() || !StoreFile::write(filePath, pdf))
                return;
            if (openWhenDone)
                QDesktopServices::openUrl(QUrl::fromLocalFile(filePath));
        },
        pageLayout);
}

void BrowserWindow::zoomIn() { setZoomFactor(zoomLevel + 0.1); }
void BrowserWindow::zoomOut() { setZoomFactor(zoomLevel - 0.1); }
void BrowserWindow::zoomReset() { setZoomFactor(1.0); }

void BrowserWindow::setZoomFactor(double factor)
{
    zoomLevel = qBound(0.25, factor, 5.0);
    view->setZoomFactor(zoomLevel);
    emit zoomFactorChanged(zoomLevel);
}

void BrowserWindow::showDevTools()
{
    if (!devTools) {
        devTools = new DevTools(view, parentWidget());
        // Not docked into the main window: as a plain child it would sit over
        // the toolbar, so it floats as its own window.
        devTools->setFloating(true);
    }
    devTools->show();
    devTools->raise();
}

void BrowserWindow::hideDevTools()
{
    if (devTools)
        devTools->hide();
}

bool BrowserWindow::isDevToolsVisible() const
{
    return devTools && devTools->isVisible();
}

void BrowserWindow::toggleReaderMode()
{
    readerMode = !readerMode;
    QWebEngineScriptCollection &scripts = view->page()->scripts();
    if (readerMode) {
        QWebEngineScript script;
        script.setName(QStringLiteral("ReaderMode"));
        script.setInjectionPoint(QWebEngineScript::DocumentReady);
        script.setWorldId(QWebEngineScript::MainWorld);
        script.setSourceCode(readerModeScript());
        scripts.insert(script);
    } else {
        const QList<QWebEngineScript> found = scripts.find(QStringLiteral("ReaderMode"));
        for (const QWebEngineScript &s : found)
            scripts.remove(s);
        view->reload();
    }
}

void BrowserWindow::setMuted(bool mute)
{
    muted = mute;
    view->page()->setAudioMuted(mute);
}

void BrowserWindow::showVPNWarning(const QUrl &refused)
{
    const QUrl current = view->url();
    if (refused.isValid() && !refused.isEmpty())
        pendingUrl = refused;
    else if (!current.isEmpty() && current.toString() != vpnWarningAddress())
        pendingUrl = current;
    warningRequested = true;
    view->setHtml(vpnWarningHtml(), QUrl(vpnWarningAddress()));
}

// The page's address stays empty until the warning has loaded: a tunnel that
// comes up in between must still find the tab standing in for its address.
bool BrowserWindow::isShowingVPNWarning() const
{
    return warningRequested || view->url().toString() == vpnWarningAddress();
}

QString BrowserWindow::sessionUrl() const
{
    const QString current = view->url().toString();
    if ((current.isEmpty() || current == vpnWarningAddress()) && pendingUrl.isValid())
        return pendingUrl.toString();
    return current;
}

void BrowserWindow::onUrlChanged(const QUrl &url)
{
    // A real navigation ends the stand-in: forget the refused address.
    if (!url.isEmpty() && url.toString() != vpnWarningAddress()) {
        pendingUrl.clear();
        warningRequested = false;
    }
    emit urlChanged(url);
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("about") && scheme != QLatin1String("data"))
        faviconManager->loadFavicon(url);
}

void BrowserWindow::onTitleChanged(const QString &title) { emit titleChanged(title); }
void BrowserWindow::onLoadStarted() { emit loadStarted(); }
void BrowserWindow::onLoadFinished(bool ok) { emit loadFinished(ok); }

void BrowserWindow::onFaviconLoaded(const QUrl &pageUrl, const QPixmap &icon)
{
    if (pageUrl.host(QUrl::FullyDecoded) != view->url().host(QUrl::FullyDecoded))
        return;
    currentFavicon = icon;
    emit faviconChanged(icon);
}

QString BrowserWindow::readerModeScript()
{
    return QStringLiteral(R"JS((function() {
    var style = document.createElement('style');
    style.textContent = 'body { max-width: 800px; margin: 0 auto; padding: 20px; font-family: Georgia, serif; line-height: 1.6; }'
        + ' nav, aside, .sidebar, .ad, .advertisement, [class*="ad-"], [id*="ad-"], header, footer, .header, .footer,'
        + ' .navigation, .nav, .social-share, .share-buttons, .comments, .comment-section { display: none !important; }'
        + ' article, main, .content, .post, .article { width: 100% !important; max-width: none !important; }';
    document.head.appendChild(style);
})();)JS");
}

QString BrowserWindow::vpnWarningHtml()
{
    return QStringLiteral(R"HTML(<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>Protected Network Required</title>
<style>
  html, body { margin: 0; height: 100%; overflow: hidden; }
  body {
    font-family: 'Segoe UI', system-ui, sans-serif;
    background-color: #050507;
    background-image: radial-gradient(circle at 10% 20%, rgba(0, 229, 255, 0.05), transparent 40%),
                      radial-gradient(circle at 90% 80%, rgba(120, 0, 255, 0.05), transparent 40%);
    color: #fff;
    display: flex; align-items: center; justify-content: center;
    min-height: 100vh;
  }
  .card {
    position: relative;
    background: rgba(20, 20, 25, 0.6);
    backdrop-filter: blur(20px);
    border: 1px solid rgba(255, 255, 255, 0.08);
    border-radius: 24px;
    padding: 60px;
    width: 500px;
    text-align: center;
    box-shadow: 0 20px 60px rgba(0, 0, 0, 0.4);
  }
  .card::before {
    content: ''; position: absolute; top: 0; left: 0; right: 0; height: 1px;
    background: linear-gradient(90deg, transparent, rgba(0, 229, 255, 0.5), transparent);
  }
  .shield {
    width: 80px; height: 80px; margin: 0 auto 24px; border-radius: 50%;
    background: rgba(255, 50, 50, 0.1); color: #ff4444;
    display: flex; align-items: center; justify-content: center;
    animation: pulse 2s infinite;
  }
  @keyframes pulse {
    0% { box-shadow: 0 0 0 0 rgba(255, 50, 50, 0.2); }
    70% { box-shadow: 0 0 0 20px rgba(255, 50, 50, 0); }
    100% { box-shadow: 0 0 0 0 rgba(255, 50, 50, 0); }
  }
  .status {
    display: inline-flex; align-items: center; gap: 8px;
    background: rgba(255, 50, 50, 0.1); color: #ff4444;
    font-size: 12px; font-weight: 600; padding: 6px 14px;
    border: 1px solid rgba(255, 50, 50, 0.2); border-radius: 20px; margin-bottom: 20px;
  }
  .dot { width: 6px; height: 6px; border-radius: 50%; background: #ff4444; }
  h1 {
    font-size: 28px; font-weight: 700; margin: 0 0 16px;
    background: linear-gradient(#fff, #a0a0a0); -webkit-background-clip: text; background-clip: text; color: transparent;
  }
  p { color: #888; font-size: 15px; line-height: 1.6; margin: 0; }
  .code { font-size: 12px; color: #555; margin-top: 20px; }
</style>
</head>
<body>
  <div class="card">
    <div class="shield">
      <svg width="32" height="32" viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2">
        <path d="M12 22s8-4 8-10V5l-8-3-8 3v7c0 6 8 10 8 10z"/>
      </svg>
    </div>
    <div class="status"><span class="dot"></span>UNPROTECTED</div>
    <h1>Network Lock Active</h1>
    <p>OrvexBrowser has blocked this connection because your device is not secured by OrvexVPN. Enable the VPN to decrypt local access.</p>
    <div class="code">ERROR_CONNECTION_UNSECURE</div>
  </div>
</body>
</html>
)HTML");
}
