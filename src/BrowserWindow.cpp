#include "BrowserWindow.h"

#include "DevTools.h"
#include "ErrorPage.h"
#include "FaviconManager.h"
#include "PageScript.h"
#include "PrivacyEngine.h"
#include "PrivateConfigFile.h"
#include "PrivateFolder.h"
#include "StoreFile.h"
#include "VpnGate.h"
#include "WebPage.h"
#include "WebSettingsApplier.h"

#include <QDesktopServices>
#include <QDir>
#include <QList>
#include <QPageLayout>
#include <QPageSize>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QStandardPaths>
#include <QDataStream>
#include <QStackedLayout>
#include <QTimer>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFullScreenRequest>
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

BrowserWindow::BrowserWindow(QWidget *parent, const QJsonObject &privacySettings, FaviconManager *favicons,
                             QWebEngineProfile *profile)
    : QWidget(parent)
{
    privacyEngine = new PrivacyEngine(this);
    privacyEngine->applySettings(privacySettings);
    faviconManager = favicons ? favicons : new FaviconManager(this);

    layout = new QStackedLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    view = new QWebEngineView(this);
    webPage = new WebPage(profile ? profile : QWebEngineProfile::defaultProfile(), view);
    view->setPage(webPage);
    // The tab's icon comes from the favicon manager; the engine's own fetch
    // would ask every site for it a second time.
    view->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    view->settings()->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    privacyEngine->applyPrivacySettings(view);

    QWebEngineProfile *webProfile = webPage->profile();
    // JavaScript, PDF viewer, font size: set on the profile, so every page of it follows.
    WebSettingsApplier::apply(webProfile->settings(), privacySettings);
    // Profile-wide: the first tab sets it, later tabs find it set.
    const QString userAgent = QString::fromLatin1(kUserAgent);
    if (webProfile->httpUserAgent() != userAgent)
        webProfile->setHttpUserAgent(userAgent);
    // The profile is shared by every tab: each download must leave through one tab only.
    connect(webProfile, &QWebEngineProfile::downloadRequested, this, &BrowserWindow::onProfileDownload);
    liveTabs().append(this);

    layout->addWidget(view);

    connect(view, &QWebEngineView::urlChanged, this, &BrowserWindow::onUrlChanged);
    connect(view, &QWebEngineView::titleChanged, this, &BrowserWindow::onTitleChanged);
    connect(view, &QWebEngineView::loadStarted, this, &BrowserWindow::onLoadStarted);
    connect(view, &QWebEngineView::loadFinished, this, &BrowserWindow::onLoadFinished);
    connect(faviconManager, &FaviconManager::faviconLoaded, this, &BrowserWindow::onFaviconLoaded);

    connect(webPage, &WebPage::navigationRefused, this, [this](const QUrl &url) { showVPNWarning(url); });
    connect(webPage, &WebPage::certificateErrorRaised, this, &BrowserWindow::onCertificateError);
    connect(webPage, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int) { onRenderProcessTerminated(status); });
    connect(webPage, &QWebEnginePage::fullScreenRequested, this, &BrowserWindow::fullScreenRequested);
    // The back and forward actions follow the page's history as it changes.
    for (QWebEnginePage::WebAction action : {QWebEnginePage::Back, QWebEnginePage::Forward})
        connect(webPage->action(action), &QAction::changed, this, &BrowserWindow::navigationStateChanged);
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
    // oldest live tab of the same profile relays it.
    for (BrowserWindow *tab : liveTabs()) {
        if (origin && tab->view->page() == origin)
            return;
    }
    const QWebEngineProfile *profile = webPage->profile();
    for (BrowserWindow *tab : liveTabs()) {
        if (tab->webPage->profile() != profile)
            continue;
        if (tab == this)
            emit downloadRequested(download);
        return;
    }
}

void BrowserWindow::loadUrl(const QUrl &url)
{
    // The page would refuse it too; refusing here keeps the favicon fetch
    // from leaving as well.
    if (!VpnGate::allows(url)) {
        showVPNWarning(url);
        return;
    }
    warningRequested = false;
    hideErrorPage();
    privacyEngine->prepareNavigation(webPage, url);
    view->load(url);
    faviconManager->loadFavicon(url);
}

void BrowserWindow::goBack()
{
    if (view->history()->canGoBack())
        privacyEngine->prepareNavigation(webPage, view->history()->backItem().url());
    view->back();
}

void BrowserWindow::goForward()
{
    if (view->history()->canGoForward())
        privacyEngine->prepareNavigation(webPage, view->history()->forwardItem().url());
    view->forward();
}
bool BrowserWindow::canGoBack() const { return view->history()->canGoBack(); }
bool BrowserWindow::canGoForward() const { return view->history()->canGoForward(); }

void BrowserWindow::reload()
{
    hideErrorPage();
    view->reload();
}

void BrowserWindow::reloadBypassingCache()
{
    hideErrorPage();
    view->triggerPageAction(QWebEnginePage::ReloadAndBypassCache);
}

void BrowserWindow::stop()
{
    view->stop();
}

QByteArray BrowserWindow::saveHistory() const
{
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out << *view->history();
    return data;
}

bool BrowserWindow::restoreHistory(const QByteArray &data)
{
    // A list whose current entry would leave without a tunnel is not
    // restored: restoring loads that entry at once.
    QDataStream probe(data);
    QWebEngineView scratch;
    probe >> *scratch.history();
    if (probe.status() != QDataStream::Ok || scratch.history()->count() == 0)
        return false;
    if (!VpnGate::allows(scratch.history()->currentItem().url()))
        return false;
    QDataStream in(data);
    in >> *view->history();
    return in.status() == QDataStream::Ok;
}
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
    // Not the shared temporary folder: another user could plant a link there
    // or hold the name, and would be able to read the page.
    const QString folder = PrivateFolder::path();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/orvexbrowser_print.pdf");
}

void BrowserWindow::print()
{
    const QString path = printFilePath();
    if (path.isEmpty()) {
        emit printFailed(QStringLiteral("Printing failed: no private folder for the file"));
        return;
    }
    renderPdf(path, true);
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
    QPointer<BrowserWindow> tab(this);
    view->page()->printToPdf(
        [filePath, openWhenDone, printingView, tab](const QByteArray &pdf) {
            if (printingView) {
                const int left = printingView->property(kPendingPrints).toInt() - 1;
                printingView->setProperty(kPendingPrints, left);
                if (left <= 0 && !printingView->parent())
                    printingView->deleteLater();
            }
            QString failure;
            if (pdf.isEmpty())
                failure = QStringLiteral("Printing failed: the page could not be rendered");
            // The printed page goes in one step that follows no link and
            // takes over no one else's file.
            else if (!(openWhenDone ? PrivateConfigFile::write(filePath, pdf) : StoreFile::write(filePath, pdf)))
                failure = QStringLiteral("Printing failed: could not write ") + QDir::toNativeSeparators(filePath);
            if (!failure.isEmpty()) {
                if (tab)
                    emit tab->printFailed(failure);
                return;
            }
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
    hideErrorPage();
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

void BrowserWindow::onLoadStarted()
{
    loading = true;
    emit loadStarted();
    emit navigationStateChanged();
}

void BrowserWindow::onLoadFinished(bool ok)
{
    loading = false;
    emit loadFinished(ok);
    emit navigationStateChanged();
}

ErrorPage *BrowserWindow::ensureErrorPage()
{
    if (!errorView) {
        errorView = new ErrorPage(this);
        layout->addWidget(errorView);
        connect(errorView, &ErrorPage::reloadClicked, this, &BrowserWindow::reload);
        // Back to the page the user was on: the refused navigation is
        // cancelled, so it leaves no error page behind in the history.
        connect(errorView, &ErrorPage::backToSafetyClicked, this, [this] {
            view->stop();
            hideErrorPage();
            emit urlChanged(view->url());
        });
        connect(errorView, &ErrorPage::continueClicked, this, [this] {
            if (!pendingCertificate || !pendingCertificate->isOverridable())
                return;
            WebPage::rememberCertificateException(pendingCertificate->url(), pendingCertificate->type());
            pendingCertificate->acceptCertificate();
            pendingCertificate.reset();
            hideErrorPage();
        });
    }
    return errorView;
}

bool BrowserWindow::isShowingErrorPage() const
{
    return errorView && layout->currentWidget() == errorView;
}

void BrowserWindow::hideErrorPage()
{
    // A question left open is answered no: the page moves on without it.
    if (pendingCertificate)
        pendingCertificate->rejectCertificate();
    pendingCertificate.reset();
    if (isShowingErrorPage())
        layout->setCurrentWidget(view);
}

void BrowserWindow::onCertificateError(const QWebEngineCertificateError &error)
{
    ErrorPage *page = ensureErrorPage();
    if (pendingCertificate)
        pendingCertificate->rejectCertificate();
    pendingCertificate = error;
    page->showCertificateError(error.url().host(QUrl::FullyDecoded), error.description(), error.isOverridable());
    layout->setCurrentWidget(page);
    // The address bar shows where the error is, not where the tab was.
    emit urlChanged(error.url());
}

void BrowserWindow::onRenderProcessTerminated(int status)
{
    if (status == QWebEnginePage::NormalTerminationStatus)
        return;
    loading = false;
    ensureErrorPage()->showCrashed();
    layout->setCurrentWidget(errorView);
    emit navigationStateChanged();
}

void BrowserWindow::onFaviconLoaded(const QUrl &pageUrl, const QPixmap &icon)
{
    if (pageUrl.host(QUrl::FullyDecoded) != view->url().host(QUrl::FullyDecoded))
        return;
    currentFavicon = icon;
    emit faviconChanged(icon);
}

QString BrowserWindow::readerModeScript()
{
    return PageScript::source(QStringLiteral("readermode.js"));
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
