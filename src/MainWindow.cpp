#include "MainWindow.h"

#include "AccountSyncManager.h"
#include "ActiveFilters.h"
#include "BookmarksDialog.h"
#include "BrowserWindow.h"
#include "ClosedTabs.h"
#include "CommandPalette.h"
#include "ContentBlocker.h"
#include "DataManager.h"
#include "DownloadDialog.h"
#include "DownloadManager.h"
#include "FaviconManager.h"
#include "FilterListManager.h"
#include "HistoryDialog.h"
#include "IconFactory.h"
#include "LoginDialog.h"
#include "MemoryTrimmer.h"
#include "PasswordDialog.h"
#include "PopupWindow.h"
#include "PlainMessageBox.h"
#include "PrivacyDashboard.h"
#include "PrivacyEngine.h"
#include "PublicSuffix.h"
#include "SearchManager.h"
#include "ServiceEndpoints.h"
#include "SettingsDialog.h"
#include "SidePanel.h"
#include "SiteProtection.h"
#include "SiteShield.h"
#include "StoreFile.h"
#include "TabStripUpdater.h"
#include "Theme.h"
#include "VPNConfigReview.h"
#include "VPNManager.h"
#include "VpnGate.h"
#include "WebPage.h"
#include "WebSettingsApplier.h"

#include <QCloseEvent>
#include <QCompleter>
#include <QDir>
#include <QDialog>
#include <QFileInfo>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QHostAddress>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStringListModel>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {
const int kTabTextLength = 25;

QString homePage()
{
    return ServiceEndpoints::accountUrl();
}

// Menus show the window's key for a command; the window's shortcut does the work.
void showShortcut(QAction *action, const QString &key)
{
    action->setShortcut(QKeySequence(key));
    action->setShortcutContext(Qt::WidgetShortcut);
    action->setShortcutVisibleInContextMenu(true);
}
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    vpnManager = new VPNManager(this);
    VpnGate::follow(vpnManager);
    // Before any tab: the lists load in the background while the built-in
    // host lists block.
    contentBlocker = new ContentBlocker(QString(), QString(), this);
    // New lists reach every open page: a first start builds them while the
    // restored tabs load.
    connect(ActiveFilters::instance(), &ActiveFilters::engineChanged, MemoryTrimmer::instance(),
            &MemoryTrimmer::schedule);
    dataManager = new DataManager(this);
    downloadManager = new DownloadManager(this);
    searchManager = new SearchManager(this);
    faviconManager = new FaviconManager(this);
    closedTabList = new ClosedTabs(QFileInfo(dataManager->getSessionPath()).absolutePath()
                                       + QStringLiteral("/closed_tabs.json"),
                                   this);

    setWindowTitle(QStringLiteral("OrvexBrowser"));
    init();

    accountSyncManager = new AccountSyncManager(vpnManager, this);
    connect(accountSyncManager, &AccountSyncManager::syncFinished, this,
            [this](bool, const QString &message) { statusBar()->showMessage(message, 5000); });

    restoreSession();
    updateVPNStatus();

    if (accountSyncManager->hasValidToken()) {
        statusBar()->showMessage(QStringLiteral("Auto-syncing VPN keys..."));
        accountSyncManager->syncKeys(QString());
    }
}

MainWindow::MainWindow(MainWindow *primary, bool privateWindow)
    : QMainWindow(nullptr)
    , primaryWindow(primary)
{
    setAttribute(Qt::WA_DeleteOnClose);
    vpnManager = primary->vpnManager;
    dataManager = primary->dataManager;
    downloadManager = primary->downloadManager;
    searchManager = primary->searchManager;
    accountSyncManager = primary->accountSyncManager;
    contentBlocker = primary->contentBlocker;
    if (privateWindow) {
        // Nothing of this window reaches the disk: no icon cache shared with
        // the other windows, cookies and cache in memory, closed tabs in memory.
        faviconManager = new FaviconManager(this);
        privateProfile = new QWebEngineProfile(this);
        closedTabList = new ClosedTabs(QString(), this);
        setWindowTitle(QStringLiteral("OrvexBrowser \u2014 Ghost Mode"));
    } else {
        faviconManager = primary->faviconManager;
        closedTabList = primary->closedTabList;
        setWindowTitle(QStringLiteral("OrvexBrowser"));
    }
    init();
    updateVPNStatus();
}

void MainWindow::init()
{
    resize(1200, 800);
    setupUI();
    applyCyberpunkTheme();
    if (isPrivate()) {
        // Marked at a glance: another toolbar colour and the ghost's label.
        setStyleSheet(styleSheet()
                      + QStringLiteral("#toolbarWidget { background: #221433; border-bottom: 1px solid #6b3fa0; }"
                                       "#ghostLabel { color: #e0c8ff; background: #4b2a78; padding: 4px 12px;"
                                       " border-radius: 4px; font-weight: 600; }"));
    }
    setupVPN();
    // A site switched on or off anywhere reaches this window's tabs.
    connect(contentBlocker->siteProtection(), &SiteProtection::changed, this, &MainWindow::onSiteProtectionChanged);

    sessionTimer = new QTimer(this);
    sessionTimer->setSingleShot(true);
    sessionTimer->setInterval(1000);
    connect(sessionTimer, &QTimer::timeout, this, &MainWindow::saveSession);
    // Deletions and clears made anywhere (dialogs, palette) reach the completion at once.
    completionTimer = new QTimer(this);
    completionTimer->setSingleShot(true);
    completionTimer->setInterval(0);
    connect(completionTimer, &QTimer::timeout, this, &MainWindow::updateAutocomplete);
    connect(dataManager, &DataManager::historyChanged, completionTimer, qOverload<>(&QTimer::start));
    connect(dataManager, &DataManager::bookmarksChanged, completionTimer, qOverload<>(&QTimer::start));
    // The mouse's back and forward buttons, wherever in the window they are pressed.
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow()
{
    destroying = true;
    qApp->removeEventFilter(this);
    saveSession();
    if (!primaryWindow) {
        for (const QPointer<MainWindow> &window : std::as_const(otherWindows))
            delete window.data();
    }
    if (privateProfile) {
        // Pages must die before their profile, which is one of our children too.
        const QList<PopupWindow *> popups = findChildren<PopupWindow *>();
        qDeleteAll(popups);
        const QList<BrowserWindow *> pages = findChildren<BrowserWindow *>();
        qDeleteAll(pages);
        delete privateProfile;
        privateProfile = nullptr;
    }
}

QWebEngineProfile *MainWindow::webProfile() const
{
    return privateProfile ? privateProfile : QWebEngineProfile::defaultProfile();
}

QList<MainWindow *> MainWindow::privateWindows() const
{
    QList<MainWindow *> windows;
    const MainWindow *primary = primaryWindow ? primaryWindow.data() : this;
    for (const QPointer<MainWindow> &window : primary->otherWindows) {
        if (window && window->isPrivate())
            windows.append(window);
    }
    return windows;
}

QList<MainWindow *> MainWindow::secondaryWindows() const
{
    QList<MainWindow *> windows;
    const MainWindow *primary = primaryWindow ? primaryWindow.data() : this;
    for (const QPointer<MainWindow> &window : primary->otherWindows) {
        if (window && !window->isPrivate())
            windows.append(window);
    }
    return windows;
}

MainWindow *MainWindow::openWindow(bool privateWindow)
{
    MainWindow *primary = primaryWindow ? primaryWindow.data() : this;
    auto *window = new MainWindow(primary, privateWindow);
    primary->otherWindows.removeAll(QPointer<MainWindow>());
    primary->otherWindows.append(window);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void MainWindow::onPrivateWindow()
{
    openWindow(true)->onNewTab();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (primaryWindow) {
        if (!closingWithPrimary && !isPrivate()) {
            userClosed = true;
            primaryWindow->scheduleSessionSave();
        }
    } else {
        // Closing the main window ends the run: the session keeps the tabs of
        // every window open at that moment, then the others close with it.
        saveSession();
        sessionSealed = true;
        for (const QPointer<MainWindow> &window : std::as_const(otherWindows)) {
            if (window) {
                window->closingWithPrimary = true;
                window->close();
            }
        }
    }
    QMainWindow::closeEvent(event);
}

QPalette MainWindow::darkPalette()
{
    return Theme::palette(Theme::Kind::Dark);
}

void MainWindow::setupUI()
{
    centralWidget = new QWidget(this);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    setCentralWidget(centralWidget);
    centralLayout = new QVBoxLayout(centralWidget);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(0);

    toolbarWidget = new QWidget(centralWidget);
    toolbarWidget->setObjectName(QStringLiteral("toolbarWidget"));
    toolbarLayout = new QHBoxLayout(toolbarWidget);
    toolbarLayout->setContentsMargins(12, 12, 12, 12);
    toolbarLayout->setSpacing(10);

    auto iconButton = [this](const QString &tip, const QIcon &icon, int iconSize) {
        auto *button = new QPushButton(toolbarWidget);
        button->setToolTip(tip);
        button->setIcon(icon);
        button->setIconSize(QSize(iconSize, iconSize));
        button->setFixedSize(36, 36);
        return button;
    };

    if (isPrivate()) {
        auto *ghost = new QLabel(QStringLiteral("👻 Ghost Mode"), toolbarWidget);
        ghost->setObjectName(QStringLiteral("ghostLabel"));
        ghost->setToolTip(QStringLiteral("Private window: no history, session, cookies or cache are kept"));
        toolbarLayout->addWidget(ghost);
    }

    vpnStatusLabel = new QLabel(QStringLiteral("🔴 VPN Disconnected"), toolbarWidget);
    vpnStatusLabel->setObjectName(QStringLiteral("vpnStatusLabel"));
    toolbarLayout->addWidget(vpnStatusLabel);

    backButton = iconButton(QStringLiteral("Back (Alt+Left)"), IconFactory::back(), 20);
    connect(backButton, &QPushButton::clicked, this, &MainWindow::onBackClicked);
    toolbarLayout->addWidget(backButton);
    forwardButton = iconButton(QStringLiteral("Forward (Alt+Right)"), IconFactory::forward(), 20);
    connect(forwardButton, &QPushButton::clicked, this, &MainWindow::onForwardClicked);
    toolbarLayout->addWidget(forwardButton);
    reloadButton = iconButton(QStringLiteral("Reload (F5)"), IconFactory::reload(), 18);
    // One button, two jobs: it stops the current tab while it loads.
    connect(reloadButton, &QPushButton::clicked, this, [this] {
        BrowserWindow *tab = currentBrowser();
        if (tab && tab->isLoading())
            onStopClicked();
        else
            onReloadClicked();
    });
    toolbarLayout->addWidget(reloadButton);

    urlBar = new QLineEdit(toolbarWidget);
    urlBar->setPlaceholderText(QStringLiteral("Search or enter address"));
    urlBar->setMinimumHeight(40);
    connect(urlBar, &QLineEdit::returnPressed, this, &MainWindow::onUrlEntered);
    setupAutocomplete();
    toolbarLayout->addWidget(urlBar, 1);
    shieldButton = new SiteShield(contentBlocker->siteProtection(), toolbarWidget);
    toolbarLayout->addWidget(shieldButton);

    vpnButton = new QPushButton(IconFactory::vpn(), QStringLiteral(" Connect VPN"), toolbarWidget);
    vpnButton->setMinimumHeight(36);
    vpnButton->setCursor(Qt::PointingHandCursor);
    connect(vpnButton, &QPushButton::clicked, this, &MainWindow::onVPNDialog);
    toolbarLayout->addWidget(vpnButton);

    bookmarksButton = iconButton(QStringLiteral("Bookmarks (Ctrl+D adds this page)"), IconFactory::bookmark(), 20);
    connect(bookmarksButton, &QPushButton::clicked, this, &MainWindow::onBookmarks);
    toolbarLayout->addWidget(bookmarksButton);
    historyButton = iconButton(QStringLiteral("History (Ctrl+H)"), IconFactory::history(), 20);
    connect(historyButton, &QPushButton::clicked, this, &MainWindow::onHistory);
    toolbarLayout->addWidget(historyButton);
    QPushButton *downloadsButton = iconButton(QStringLiteral("Downloads (Ctrl+J)"), IconFactory::download(), 20);
    connect(downloadsButton, &QPushButton::clicked, this, &MainWindow::onDownloads);
    toolbarLayout->addWidget(downloadsButton);
    settingsButton = iconButton(QStringLiteral("Settings"), IconFactory::settings(), 20);
    connect(settingsButton, &QPushButton::clicked, this, &MainWindow::onSettings);
    toolbarLayout->addWidget(settingsButton);
    QPushButton *accountButton = iconButton(QStringLiteral("Account"), IconFactory::user(), 20);
    accountButton->setObjectName(QStringLiteral("accountButton"));
    connect(accountButton, &QPushButton::clicked, this, [this, accountButton] { onAccountButton(accountButton); });
    toolbarLayout->addWidget(accountButton);
    QPushButton *assistantButton = iconButton(QStringLiteral("Orvex AI"), IconFactory::robot(), 22);
    connect(assistantButton, &QPushButton::clicked, this, &MainWindow::onSidePanelToggle);
    toolbarLayout->addWidget(assistantButton);

    centralLayout->addWidget(toolbarWidget, 0);

    auto *contentLayout = new QHBoxLayout;
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);
    tabWidget = new QTabWidget(centralWidget);
    tabStrip = new TabStripUpdater(tabWidget);
    tabWidget->setTabsClosable(true);
    tabWidget->setMovable(true);
    tabWidget->setDocumentMode(true);
    connect(tabWidget, &QTabWidget::tabCloseRequested, this, &MainWindow::onCloseTab);
    connect(tabWidget, &QTabWidget::currentChanged, this, &MainWindow::onTabChanged);
    connect(tabWidget, &QTabWidget::tabBarDoubleClicked, this, [this](int) { onNewTab(); });
    connect(tabWidget->tabBar(), &QTabBar::tabMoved, this, &MainWindow::scheduleSessionSave);
    contentLayout->addWidget(tabWidget, 1);
    sidePanel = new SidePanel(this);
    sidePanel->hide();
    contentLayout->addWidget(sidePanel, 0);
    centralLayout->addLayout(contentLayout, 1);

    statusBar()->showMessage(QStringLiteral("Ready"));

    setupShortcuts();

    tabWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tabWidget, &QWidget::customContextMenuRequested, this, &MainWindow::onTabContextMenu);
}

void MainWindow::setupShortcuts()
{
    auto shortcut = [this](const QKeySequence &key, auto slot) {
        auto *s = new QShortcut(key, this);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, slot);
        return s;
    };
    auto shortcuts = [&](const QStringList &keys, auto slot) {
        for (const QString &key : keys)
            shortcut(QKeySequence(key), slot);
    };
    shortcut(QKeySequence::Find, &MainWindow::onFindInPage);
    shortcut(QKeySequence::Print, &MainWindow::onPrint);
    shortcut(QKeySequence::ZoomIn, &MainWindow::onZoomIn);
    shortcut(QKeySequence::ZoomOut, &MainWindow::onZoomOut);
    shortcuts({QStringLiteral("Ctrl+Shift+I")}, &MainWindow::onDevTools);
    shortcuts({QStringLiteral("Ctrl+T")}, &MainWindow::onNewTab);
    shortcuts({QStringLiteral("Ctrl+Shift+P")}, &MainWindow::onCommandPalette);

    shortcuts({QStringLiteral("Ctrl+W"), QStringLiteral("Ctrl+F4")}, [this] { onCloseTab(tabWidget->currentIndex()); });
    shortcuts({QStringLiteral("Ctrl+Shift+T")}, &MainWindow::onReopenClosedTab);
    shortcuts({QStringLiteral("Ctrl+Tab"), QStringLiteral("Ctrl+PgDown")}, &MainWindow::onNextTab);
    shortcuts({QStringLiteral("Ctrl+Shift+Tab"), QStringLiteral("Ctrl+Shift+Backtab"), QStringLiteral("Ctrl+PgUp")},
              &MainWindow::onPreviousTab);
    for (int n = 1; n <= 9; ++n)
        shortcuts({QStringLiteral("Ctrl+%1").arg(n)}, [this, n] { onSelectTab(n); });
    shortcuts({QStringLiteral("Alt+Left")}, &MainWindow::onBackClicked);
    shortcuts({QStringLiteral("Alt+Right")}, &MainWindow::onForwardClicked);
    shortcuts({QStringLiteral("F5"), QStringLiteral("Ctrl+R")}, &MainWindow::onReloadClicked);
    shortcuts({QStringLiteral("Ctrl+Shift+R"), QStringLiteral("Shift+F5")}, &MainWindow::onReloadBypassingCache);
    shortcuts({QStringLiteral("Ctrl+L"), QStringLiteral("F6"), QStringLiteral("Alt+D")}, &MainWindow::onFocusAddressBar);
    shortcuts({QStringLiteral("Ctrl+0")}, &MainWindow::onZoomReset);
    shortcuts({QStringLiteral("Ctrl+D")}, &MainWindow::onBookmarkCurrentPage);
    shortcuts({QStringLiteral("Ctrl+H")}, &MainWindow::onHistory);
    shortcuts({QStringLiteral("Ctrl+J")}, &MainWindow::onDownloads);
    shortcuts({QStringLiteral("F11")}, &MainWindow::onFullScreen);
    shortcuts({QStringLiteral("Ctrl+Shift+N")}, &MainWindow::onPrivateWindow);
    // Esc belongs to the page (its dialogs, its menus) except while there is
    // something to stop or a page's full screen to leave.
    stopShortcut = shortcut(QKeySequence(Qt::Key_Escape), [this] {
        if (pageFullScreen)
            leavePageFullScreen();
        else
            onStopClicked();
    });
    stopShortcut->setEnabled(false);
}

void MainWindow::applyCyberpunkTheme()
{
    // The stored theme (dark when none): window style sheet and application palette.
    Theme::apply(this, dataManager->getSettings());
}

// ---- Tabs and navigation -------------------------------------------------

BrowserWindow *MainWindow::currentBrowser() const
{
    return tabWidget ? qobject_cast<BrowserWindow *>(tabWidget->currentWidget()) : nullptr;
}

namespace {
bool isIpLiteral(const QString &host)
{
    return QHostAddress(host.startsWith(QLatin1Char('[')) ? host.mid(1, host.size() - 2) : host).protocol()
        != QAbstractSocket::UnknownNetworkLayerProtocol;
}
}

QUrl MainWindow::addressFromText(const QString &input)
{
    const QString text = input.trimmed();
    static const QRegularExpression blank(QStringLiteral("\\s"));
    if (text.isEmpty() || text.contains(blank))
        return QUrl();

    // An explicit scheme: taken as written (any letter case).
    static const QRegularExpression explicitForm(QStringLiteral("^(https?://|file:|about:|data:)"),
                                                 QRegularExpression::CaseInsensitiveOption);
    if (explicitForm.match(text).hasMatch()) {
        QUrl url(text, QUrl::TolerantMode);
        url.setScheme(url.scheme().toLower());
        return url.isValid() ? url : QUrl();
    }

    // host[:port][/path, ?query or #fragment]
    static const QRegularExpression hostForm(QStringLiteral(
        "^(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9](?:[A-Za-z0-9.-]*[A-Za-z0-9])?)(?::([0-9]{1,5}))?(?:[/?#].*)?$"));
    const QRegularExpressionMatch m = hostForm.match(text);
    const QString host = m.captured(1);
    const QString portText = m.captured(2);
    // Names under localhost are the machine itself, as localhost is.
    const bool localName = host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || host.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive);
    bool named = false;
    if (m.hasMatch()) {
        if (!portText.isEmpty()) {
            const int port = portText.toInt();
            if (port < 1 || port > 65535)
                return QUrl();
            named = true;
        } else {
            named = localName || isIpLiteral(host);
        }
    }
    if (!named && !text.contains(QLatin1Char('.')))
        return QUrl();
    // Local hosts and bare IP addresses rarely have a certificate for their name.
    const bool local = m.hasMatch() && (localName || isIpLiteral(host));
    const QUrl url(QString::fromLatin1(local ? "http://" : "https://") + text, QUrl::TolerantMode);
    return url.isValid() && !url.host().isEmpty() ? url : QUrl();
}

void MainWindow::setTabTextIfChanged(int index, const QString &text)
{
    if (QWidget *page = tabWidget->widget(index); page && tabStrip->text(page) != text)
        tabStrip->setText(page, text);
}

void MainWindow::connectTabBasics(BrowserWindow *tab, bool shortensTitles)
{
    connect(tab, &BrowserWindow::urlChanged, this, [this, tab, shortensTitles](const QUrl &url) {
        // Before the new page has a title, the tab keeps its text (a restored
        // tab its stored title) rather than flickering through "New Tab".
        if (!tab->title().isEmpty())
            setTabTextIfChanged(tabWidget->indexOf(tab),
                                shortensTitles ? tab->title().left(kTabTextLength) : tab->title());
        // Fully connected tabs reach the address bar through onBrowserUrlChanged.
        if (!shortensTitles && tab == currentBrowser())
            showPageAddress(url.toString());
    });
    // A tab that shortens titles gets its final text from onBrowserTitleChanged,
    // connected right after; setting the full title first would only flicker.
    if (shortensTitles)
        return;
    connect(tab, &BrowserWindow::titleChanged, this, [this, tab](const QString &title) {
        setTabTextIfChanged(tabWidget->indexOf(tab), title.isEmpty() ? QStringLiteral("New Tab") : title);
    });
}

BrowserWindow *MainWindow::createTab(const QString &text, bool connectAll, int index)
{
    auto *tab = new BrowserWindow(this, dataManager->getSettings(), faviconManager, webProfile());
    if (index < 0 || index > tabWidget->count())
        tabWidget->addTab(tab, text);
    else
        tabWidget->insertTab(index, tab, text);
    connectTabBasics(tab, connectAll);
    if (connectAll) {
        connect(tab, &BrowserWindow::urlChanged, this, &MainWindow::onBrowserUrlChanged);
        connect(tab, &BrowserWindow::titleChanged, this, &MainWindow::onBrowserTitleChanged);
    }
    connect(tab, &BrowserWindow::loadFinished, this, &MainWindow::onBrowserLoadFinished);
    connect(tab, &BrowserWindow::faviconChanged, this, &MainWindow::onBrowserFaviconChanged);
    connect(tab, &BrowserWindow::downloadRequested, this, &MainWindow::onDownloadRequested);
    if (connectAll)
        connect(tab, &BrowserWindow::zoomFactorChanged, this, [](double) {});
    connect(tab, &BrowserWindow::navigationStateChanged, this, [this, tab] {
        if (tab == currentBrowser())
            updateNavigationButtons();
    });
    connect(tab, &BrowserWindow::fullScreenRequested, this,
            [this, tab](QWebEngineFullScreenRequest request) { onPageFullScreenRequested(tab, std::move(request)); });
    connect(tab, &BrowserWindow::urlChanged, this, &MainWindow::scheduleSessionSave);
    tab->page()->setWindowCreator([this, tab](QWebEnginePage::WebWindowType type) {
        return createPageFor(tab, type);
    });
    scheduleSessionSave();
    return tab;
}

QWebEnginePage *MainWindow::createPageFor(BrowserWindow *opener, int type)
{
    if (type == QWebEnginePage::WebDialog) {
        // A page that keeps opening windows gets no more than a handful.
        if (findChildren<PopupWindow *>().size() >= 20)
            return nullptr;
        auto *popup = new PopupWindow(webProfile(), dataManager->getSettings(), this);
        popup->page()->setWindowCreator([this](QWebEnginePage::WebWindowType next) {
            return createPageFor(nullptr, next);
        });
        popup->show();
        return popup->page();
    }
    if (tabWidget->count() >= 200)
        return nullptr;
    if (type == QWebEnginePage::WebBrowserWindow) {
        // "Open link in new window": a window like this one (private stays private).
        MainWindow *window = openWindow(isPrivate());
        BrowserWindow *tab = window->createTab(QStringLiteral("New Tab"), true);
        window->tabWidget->setCurrentWidget(tab);
        return tab->page();
    }
    // Next to its opener, after the tabs it opened before (in the order they
    // were opened); from a popup, at the end.
    int index = -1;
    if (const int at = opener ? tabWidget->indexOf(opener) : -1; at >= 0) {
        index = at + 1;
        while (index < tabWidget->count() && tabWidget->widget(index)->property("orvexOpener").value<QObject *>() == opener)
            ++index;
    }
    BrowserWindow *tab = createTab(QStringLiteral("New Tab"), true, index);
    tab->setProperty("orvexOpener", QVariant::fromValue<QObject *>(opener));
    if (type != QWebEnginePage::WebBrowserBackgroundTab)
        tabWidget->setCurrentWidget(tab);
    return tab->page();
}

void MainWindow::openUrlInTab(BrowserWindow *tab, const QUrl &url)
{
    if (!tab)
        return;
    // The tab's page refuses what the gate refuses and shows the warning instead.
    tab->loadUrl(url);
    if (tab == currentBrowser() && tab->isShowingVPNWarning())
        urlBar->setText(BrowserWindow::vpnWarningAddress());
}

void MainWindow::onNewTab()
{
    BrowserWindow *tab = createTab(QStringLiteral("New Tab"), true);
    tabWidget->setCurrentWidget(tab);
    if (vpnManager->isConnected())
        tab->loadUrl(QUrl(homePage()));
    else
        tab->showVPNWarning();
    // As in every browser: a new tab is for typing an address.
    onFocusAddressBar();
}

void MainWindow::openUrls(const QList<QUrl> &urls)
{
    BrowserWindow *first = nullptr;
    for (const QUrl &url : urls) {
        if (!url.isValid() || url.isEmpty())
            continue;
        BrowserWindow *tab = createTab(QStringLiteral("New Tab"), true);
        if (!first)
            first = tab;
        // While no tunnel is up the tab keeps the address behind the warning
        // page, in the session too, and goes there once the tunnel is up.
        tab->loadUrl(url);
    }
    if (first)
        tabWidget->setCurrentWidget(first);
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void MainWindow::onCloseTab(int index)
{
    if (tabWidget->count() <= 1)
        return;
    auto *page = tabWidget->widget(index);
    if (!page)
        return;
    if (auto *tab = qobject_cast<BrowserWindow *>(page)) {
        if (tab == fullScreenTab)
            leavePageFullScreen();
        ClosedTabs::Entry entry;
        entry.url = tab->sessionUrl();
        entry.title = tab->title();
        entry.pinned = tabWidget->tabBar()->tabData(index).toBool();
        entry.index = index;
        if (!tab->isShowingVPNWarning() && !tab->isShowingErrorPage())
            entry.history = tab->saveHistory();
        closedTabList->push(entry);
    }
    tabWidget->removeTab(index);
    page->deleteLater();
    saveSession();
    MemoryTrimmer::instance()->schedule();
}

void MainWindow::onReopenClosedTab()
{
    const std::optional<ClosedTabs::Entry> entry = closedTabList->takeNewest();
    if (!entry)
        return;
    const int index = qBound(0, entry->index, tabWidget->count());
    BrowserWindow *tab = createTab(entry->title.isEmpty() ? QStringLiteral("New Tab") : entry->title, true, index);
    if (entry->pinned) {
        tabWidget->tabBar()->setTabData(tabWidget->indexOf(tab), true);
        tabWidget->setTabIcon(tabWidget->indexOf(tab), lockIcon());
    }
    tabWidget->setCurrentWidget(tab);
    // Back where it was, with its back and forward list, when the engine
    // takes the saved list and the gate lets its page load.
    if (entry->history.isEmpty() || !tab->restoreHistory(entry->history))
        openUrlInTab(tab, QUrl(entry->url, QUrl::TolerantMode));
    saveSession();
}

void MainWindow::onTabChanged(int)
{
    BrowserWindow *tab = currentBrowser();
    if (!tab)
        return;
    if (pageFullScreen && tab != fullScreenTab)
        leavePageFullScreen();
    // A tab that stood in for a refused address goes back to it once the tunnel is up.
    if (vpnManager->isConnected() && tab->isShowingVPNWarning() && tab->refusedUrl().isValid())
        tab->loadUrl(tab->refusedUrl());
    urlBar->setText(shownAddress(tab));
    updateNavigationButtons();
    updateShield();
}

void MainWindow::updateNavigationButtons()
{
    BrowserWindow *tab = currentBrowser();
    backButton->setEnabled(tab && tab->canGoBack());
    forwardButton->setEnabled(tab && tab->canGoForward());
    const bool loading = tab && tab->isLoading();
    if (loading) {
        reloadButton->setText(QStringLiteral("X"));
        reloadButton->setToolTip(QStringLiteral("Stop (Esc)"));
    } else {
        reloadButton->setIcon(IconFactory::reload());
        reloadButton->setText(QString());
        reloadButton->setToolTip(QStringLiteral("Reload (F5)"));
    }
    stopShortcut->setEnabled(loading || pageFullScreen);
}

void MainWindow::onNextTab()
{
    if (const int count = tabWidget->count(); count > 1)
        tabWidget->setCurrentIndex((tabWidget->currentIndex() + 1) % count);
}

void MainWindow::onPreviousTab()
{
    if (const int count = tabWidget->count(); count > 1)
        tabWidget->setCurrentIndex((tabWidget->currentIndex() + count - 1) % count);
}

void MainWindow::onSelectTab(int number)
{
    const int count = tabWidget->count();
    if (count == 0 || number < 1 || number > 9)
        return;
    const int index = number == 9 ? count - 1 : number - 1;
    if (index < count)
        tabWidget->setCurrentIndex(index);
}

void MainWindow::onStopClicked()
{
    if (BrowserWindow *tab = currentBrowser())
        tab->stop();
}

void MainWindow::onReloadBypassingCache()
{
    if (BrowserWindow *tab = currentBrowser())
        tab->reloadBypassingCache();
}

void MainWindow::onFocusAddressBar()
{
    urlBar->setFocus(Qt::ShortcutFocusReason);
    urlBar->selectAll();
}

void MainWindow::onBookmarkCurrentPage()
{
    BrowserWindow *tab = currentBrowser();
    if (!tab || tab->isShowingVPNWarning() || tab->url().isEmpty())
        return;
    dataManager->addBookmark(tab->url().toString(), tab->title());
    statusBar()->showMessage(QStringLiteral("Bookmarked: ") + tab->title(), 5000);
}

void MainWindow::onBackClicked()
{
    if (BrowserWindow *tab = currentBrowser())
        tab->goBack();
}

void MainWindow::onForwardClicked()
{
    if (BrowserWindow *tab = currentBrowser())
        tab->goForward();
}

void MainWindow::onReloadClicked()
{
    if (BrowserWindow *tab = currentBrowser())
        tab->reload();
}

void MainWindow::onUrlEntered()
{
    urlBar->setModified(false);
    const QString text = urlBar->text().trimmed();
    BrowserWindow *tab = currentBrowser();
    if (text.isEmpty() || !tab)
        return;
    QUrl address = addressFromText(text);
    if (!address.isValid())
        address = searchManager->searchUrl(text, QString());
    if (address.isEmpty())
        return;
    openUrlInTab(tab, address);
}

// What the address bar says for a tab: the warning page stands for itself.
QString MainWindow::shownAddress(const BrowserWindow *tab)
{
    if (!tab)
        return {};
    return tab->isShowingVPNWarning() ? BrowserWindow::vpnWarningAddress() : tab->url().toString();
}

// A page's address changing (a redirect, an error page reloading itself)
// must not wipe what the user is typing; Enter, Esc and a tab switch end
// the edit.
void MainWindow::showPageAddress(const QString &address)
{
    if (urlBar->hasFocus() && urlBar->isModified())
        return;
    // Text selected whole (or none, in a new tab) comes selected whole, or
    // the first key typed would add to it.
    const bool whole = urlBar->hasFocus() && urlBar->selectedText() == urlBar->text();
    urlBar->setText(address);
    if (whole)
        urlBar->selectAll();
}

void MainWindow::onBrowserUrlChanged(const QUrl &url)
{
    if (sender() != currentBrowser())
        return;
    showPageAddress(url.toString());
    updateShield();
}

void MainWindow::updateShield()
{
    BrowserWindow *tab = currentBrowser();
    shieldButton->setUrl(tab && !tab->isShowingVPNWarning() ? tab->url() : QUrl());
}

void MainWindow::onToggleSiteProtection()
{
    updateShield();
    if (shieldButton->site().isEmpty()) {
        statusBar()->showMessage(QStringLiteral("This page belongs to no site"), 3000);
        return;
    }
    shieldButton->toggleProtection();
}

// Every tab of the site follows at once: the change applies to pages as they load.
void MainWindow::onSiteProtectionChanged(const QString &site, bool on)
{
    int reloaded = 0;
    for (int i = 0; i < tabWidget->count(); ++i) {
        auto *tab = qobject_cast<BrowserWindow *>(tabWidget->widget(i));
        if (tab && !tab->isShowingVPNWarning() && PublicSuffix::site(tab->url()) == site) {
            tab->reload();
            ++reloaded;
        }
    }
    updateShield();
    const QString state = on ? QStringLiteral("on") : QStringLiteral("off");
    statusBar()->showMessage(reloaded ? QStringLiteral("Protection is %1 for %2; its tabs were reloaded").arg(state, site)
                                      : QStringLiteral("Protection is %1 for %2").arg(state, site),
                             5000);
}

void MainWindow::onUpdateFilterLists()
{
    if (!vpnManager->isTrafficAllowed()) {
        statusBar()->showMessage(QStringLiteral("Filter lists are updated only while the VPN tunnel is up"), 5000);
        return;
    }
    contentBlocker->lists()->updateNow();
    statusBar()->showMessage(QStringLiteral("Updating the filter lists…"), 5000);
}

void MainWindow::onBrowserTitleChanged(const QString &title)
{
    auto *tab = qobject_cast<BrowserWindow *>(sender());
    const int index = tab ? tabWidget->indexOf(tab) : -1;
    if (index < 0)
        return;
    setTabTextIfChanged(index, title.isEmpty() ? QStringLiteral("New Tab") : title.left(kTabTextLength));
}

void MainWindow::onBrowserLoadFinished(bool ok)
{
    MemoryTrimmer::instance()->schedule();
    auto *tab = qobject_cast<BrowserWindow *>(sender());
    // A private window leaves no trace in the history.
    if (!tab || !ok || isPrivate())
        return;
    const QString url = tab->url().toString();
    // The warning page is our own stand-in, not a visit.
    if (url.isEmpty() || url == BrowserWindow::vpnWarningAddress())
        return;
    dataManager->addHistory(url, tab->title());
}

void MainWindow::onBrowserFaviconChanged(const QPixmap &pixmap)
{
    auto *tab = qobject_cast<BrowserWindow *>(sender());
    const int index = tab ? tabWidget->indexOf(tab) : -1;
    if (index < 0 || pixmap.isNull())
        return;
    if (tabWidget->tabBar()->tabData(index).toBool())
        return; // a pinned tab keeps its lock
    // The same icon arrives again from the cache on every navigation within a site.
    const qint64 key = pixmap.cacheKey();
    if (tab->property("orvexTabIconKey").toLongLong() == key)
        return;
    tab->setProperty("orvexTabIconKey", key);
    tabStrip->setIcon(tab, QIcon(pixmap));
}

void MainWindow::onDownloadRequested(QWebEngineDownloadRequest *download)
{
    downloadManager->addDownload(download, isPrivate());
}

// ---- Commands ------------------------------------------------------------

void MainWindow::onPrint()
{
    BrowserWindow *tab = currentBrowser();
    if (!tab)
        return;
    connect(tab, &BrowserWindow::printFailed, this, &MainWindow::onPrintFailed, Qt::UniqueConnection);
    tab->print();
}

void MainWindow::onPrintFailed(const QString &message)
{
    statusBar()->showMessage(message, 5000);
}

void MainWindow::onZoomIn()
{
    if (BrowserWindow *tab = currentBrowser())
        tab->zoomIn();
}

void MainWindow::onZoomOut()
{
    if (BrowserWindow *tab = currentBrowser())
        tab->zoomOut();
}

void MainWindow::onZoomReset()
{
    if (BrowserWindow *tab = currentBrowser())
        tab->zoomReset();
}

void MainWindow::onFullScreen()
{
    if (pageFullScreen)
        leavePageFullScreen();
    else if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

void MainWindow::onPageFullScreenRequested(BrowserWindow *tab, QWebEngineFullScreenRequest request)
{
    if (request.toggleOn()) {
        // Only the tab in front may take the screen.
        if (tab != currentBrowser()) {
            request.reject();
            return;
        }
        request.accept();
        if (!pageFullScreen) {
            wasFullScreenBeforePage = isFullScreen();
            wasMaximizedBeforePage = isMaximized();
        }
        pageFullScreen = true;
        fullScreenTab = tab;
        toolbarWidget->hide();
        tabWidget->tabBar()->hide();
        statusBar()->hide();
        sidePanel->setProperty("orvexWasVisible", !sidePanel->isHidden());
        sidePanel->hide();
        showFullScreen();
        updateNavigationButtons();
        return;
    }
    request.accept();
    restoreFromPageFullScreen();
}

void MainWindow::leavePageFullScreen()
{
    if (!pageFullScreen)
        return;
    // The page hears of it (its video leaves full screen too); its answer
    // finds the window already restored.
    if (fullScreenTab)
        fullScreenTab->webView()->triggerPageAction(QWebEnginePage::ExitFullScreen);
    restoreFromPageFullScreen();
}

void MainWindow::restoreFromPageFullScreen()
{
    if (!pageFullScreen)
        return;
    pageFullScreen = false;
    fullScreenTab = nullptr;
    toolbarWidget->show();
    tabWidget->tabBar()->show();
    statusBar()->show();
    if (sidePanel->property("orvexWasVisible").toBool())
        sidePanel->show();
    if (!wasFullScreenBeforePage) {
        if (wasMaximizedBeforePage)
            showMaximized();
        else
            showNormal();
    }
    updateNavigationButtons();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The address bar would take Ctrl+D and Ctrl+H as editing keys (delete,
    // backspace): in a browser they bookmark and show the history.
    if (watched == urlBar && event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() == Qt::ControlModifier && (key->key() == Qt::Key_D || key->key() == Qt::Key_H)) {
            event->ignore();
            return true;
        }
        // Esc first gives up an edit of the address, as in other browsers.
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier && urlBar->isModified()) {
            event->accept();
            return true;
        }
    }
    if (watched == urlBar && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape && urlBar->isModified()) {
        urlBar->setText(shownAddress(currentBrowser()));
        urlBar->selectAll();
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const Qt::MouseButton button = mouse->button();
        if (button == Qt::BackButton || button == Qt::ForwardButton) {
            auto *widget = qobject_cast<QWidget *>(watched);
            if (widget && widget->window() == this) {
                button == Qt::BackButton ? onBackClicked() : onForwardClicked();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::onDevTools()
{
    BrowserWindow *tab = currentBrowser();
    if (!tab)
        return;
    if (tab->isDevToolsVisible())
        tab->hideDevTools();
    else
        tab->showDevTools();
}

void MainWindow::onReaderMode()
{
    if (BrowserWindow *tab = currentBrowser())
        tab->toggleReaderMode();
}

void MainWindow::onSidePanelToggle()
{
    // isHidden() is the panel's own state, also while the window is not shown.
    if (sidePanel)
        sidePanel->setVisible(sidePanel->isHidden());
}

void MainWindow::onCommandPalette()
{
    if (!commandPalette)
        commandPalette = new CommandPalette(this);
    commandPalette->show();
    commandPalette->raise();
    commandPalette->activateWindow();
}

void MainWindow::onDownloads()
{
    auto *dialog = new DownloadDialog(downloadManager, this);
    dialog->exec();
    dialog->deleteLater();
}

void MainWindow::onSettings()
{
    BrowserWindow *tab = currentBrowser();
    auto *dialog = new SettingsDialog(dataManager, tab ? tab->privacy() : nullptr, searchManager, this);
    dialog->setContentBlocker(contentBlocker);
    if (dialog->exec() == QDialog::Accepted) {
        pushPrivacySettingsToAllTabs();
        applyCyberpunkTheme();
    }
    dialog->deleteLater();
}

void MainWindow::pushPrivacySettingsToAllTabs()
{
    const QJsonObject settings = dataManager->getSettings();
    for (int i = 0; i < tabWidget->count(); ++i) {
        if (auto *tab = qobject_cast<BrowserWindow *>(tabWidget->widget(i))) {
            tab->privacy()->applySettings(settings);
            WebSettingsApplier::apply(tab->webView()->page()->profile()->settings(), settings);
        }
    }
}

void MainWindow::onPrivacyDashboard()
{
    BrowserWindow *tab = currentBrowser();
    if (!tab || !tab->privacy())
        return;
    auto *dialog = new PrivacyDashboard(tab->privacy(), this);
    dialog->setSiteProtection(contentBlocker->siteProtection());
    dialog->exec();
    dialog->deleteLater();
}

void MainWindow::onPasswordManager()
{
    auto *dialog = new PasswordDialog(dataManager, this);
    dialog->exec();
    dialog->deleteLater();
}

// ---- Completion, bookmarks, history, find ---------------------------------

void MainWindow::setupAutocomplete()
{
    completerModel = new QStringListModel(this);
    urlCompleter = new QCompleter(completerModel, this);
    urlCompleter->setCaseSensitivity(Qt::CaseInsensitive);
    urlCompleter->setCompletionMode(QCompleter::PopupCompletion);
    urlCompleter->setFilterMode(Qt::MatchContains);
    urlBar->setCompleter(urlCompleter);
    updateAutocomplete();
}

void MainWindow::updateAutocomplete()
{
    QStringList entries;
    auto collect = [&entries](const QJsonArray &records) {
        for (const QJsonValue &value : records) {
            const QJsonObject record = value.toObject();
            const QString url = record.value(QLatin1String("url")).toString();
            if (url.isEmpty())
                continue;
            entries << url;
            const QString title = record.value(QLatin1String("title")).toString();
            if (!title.isEmpty())
                entries << title;
        }
    };
    collect(dataManager->getHistory());
    collect(dataManager->getBookmarks());
    entries.removeDuplicates();
    entries.sort(Qt::CaseSensitive);
    completerModel->setStringList(entries);
}

void MainWindow::onBookmarks()
{
    QMenu menu(this);
    const QJsonArray bookmarks = dataManager->getBookmarks();
    if (bookmarks.isEmpty()) {
        menu.addAction(QStringLiteral("No bookmarks yet"))->setEnabled(false);
    } else {
        for (const QJsonValue &value : bookmarks) {
            const QJsonObject record = value.toObject();
            const QString url = record.value(QLatin1String("url")).toString();
            const QString title = record.value(QLatin1String("title")).toString();
            // A page's title: an '&' in it would mark a shortcut, not show.
            QAction *action = menu.addAction(QString(title.isEmpty() ? url : title).replace(QLatin1Char('&'), QStringLiteral("&&")));
            connect(action, &QAction::triggered, this, [this, url] {
                if (BrowserWindow *tab = currentBrowser())
                    tab->loadUrl(QUrl(url));
            });
        }
    }
    menu.addSeparator();
    // Offered on an empty list too: otherwise no first bookmark could be made.
    QAction *add = menu.addAction(QStringLiteral("Add Current Page"));
    showShortcut(add, QStringLiteral("Ctrl+D"));
    BrowserWindow *current = currentBrowser();
    add->setEnabled(current && !current->isShowingVPNWarning() && !current->url().isEmpty());
    connect(add, &QAction::triggered, this, [this] {
        if (BrowserWindow *tab = currentBrowser())
            dataManager->addBookmark(tab->url().toString(), tab->title());
    });
    connect(menu.addAction(QStringLiteral("Manage Bookmarks...")), &QAction::triggered, this,
            &MainWindow::onManageBookmarks);
    menu.exec(bookmarksButton->mapToGlobal(QPoint(0, bookmarksButton->height())));
}

void MainWindow::onManageBookmarks()
{
    auto *dialog = new BookmarksDialog(dataManager, this);
    connect(dialog, &BookmarksDialog::urlSelected, this, [this](const QUrl &url) {
        if (BrowserWindow *tab = currentBrowser())
            tab->loadUrl(url);
    });
    dialog->exec();
    dialog->deleteLater();
}

void MainWindow::onHistory()
{
    auto *dialog = new HistoryDialog(dataManager, this);
    connect(dialog, &HistoryDialog::urlSelected, this, [this](const QUrl &url) {
        if (BrowserWindow *tab = currentBrowser())
            tab->loadUrl(url);
    });
    dialog->exec();
    dialog->deleteLater();
}

void MainWindow::onFindInPage()
{
    if (!findDialog) {
        findDialog = new QDialog(this);
        findDialog->setWindowTitle(QStringLiteral("Find in Page"));
        findDialog->setFixedSize(400, 100);
        auto *layout = new QVBoxLayout(findDialog);
        auto *row = new QHBoxLayout;
        auto *input = new QLineEdit(findDialog);
        input->setPlaceholderText(QStringLiteral("Find in page..."));
        auto *previous = new QPushButton(QStringLiteral("Previous"), findDialog);
        auto *next = new QPushButton(QStringLiteral("Next"), findDialog);
        row->addWidget(input);
        row->addWidget(previous);
        row->addWidget(next);
        layout->addLayout(row);
        connect(input, &QLineEdit::textChanged, this, [this](const QString &text) {
            if (BrowserWindow *tab = currentBrowser())
                tab->findInPage(text);
        });
        connect(next, &QPushButton::clicked, this, [this] {
            if (BrowserWindow *tab = currentBrowser())
                tab->findNext();
        });
        connect(previous, &QPushButton::clicked, this, [this] {
            if (BrowserWindow *tab = currentBrowser())
                tab->findPrevious();
        });
    }
    findDialog->show();
}

// ---- Session and tab menu ------------------------------------------------

void MainWindow::scheduleSessionSave()
{
    if (isPrivate())
        return;
    if (primaryWindow) {
        primaryWindow->scheduleSessionSave();
        return;
    }
    if (sessionTimer && !sessionSealed)
        sessionTimer->start();
}

QJsonArray MainWindow::sessionRecords(int windowIndex) const
{
    QJsonArray records;
    for (int i = 0; i < tabWidget->count(); ++i) {
        auto *tab = qobject_cast<BrowserWindow *>(tabWidget->widget(i));
        if (!tab)
            continue;
        QJsonObject record;
        record.insert(QStringLiteral("url"), tab->sessionUrl());
        record.insert(QStringLiteral("title"), tab->title());
        record.insert(QStringLiteral("pinned"), tabWidget->tabBar()->tabData(i).toBool());
        // Tabs of the main window carry no "window" key, as ever.
        if (windowIndex > 0)
            record.insert(QStringLiteral("window"), windowIndex);
        records.append(record);
    }
    return records;
}

void MainWindow::saveSession()
{
    // A private window's tabs are nobody's business after it closes.
    if (!tabWidget || !dataManager || isPrivate())
        return;
    if (primaryWindow) {
        if (!primaryWindow->destroying)
            primaryWindow->saveSession();
        return;
    }
    if (sessionSealed)
        return;
    if (sessionTimer)
        sessionTimer->stop();
    QJsonArray session = sessionRecords(0);
    int index = 0;
    for (MainWindow *window : secondaryWindows()) {
        if (window->userClosed)
            continue;
        const QJsonArray records = window->sessionRecords(++index);
        for (const QJsonValue &record : records)
            session.append(record);
    }
    dataManager->setSession(session);
}

void MainWindow::restoreSession()
{
    const QJsonArray session = dataManager->getSession();
    QHash<int, MainWindow *> windows;
    for (const QJsonValue &value : session) {
        const QJsonObject record = value.toObject();
        const int windowIndex = record.value(QLatin1String("window")).toInt(0);
        MainWindow *target = this;
        if (windowIndex > 0) {
            target = windows.value(windowIndex);
            if (!target) {
                target = openWindow(false);
                windows.insert(windowIndex, target);
            }
        }
        target->restoreTab(record);
    }
    if (tabWidget->count() == 0)
        onNewTab();
}

void MainWindow::restoreTab(const QJsonObject &record)
{
    const QString url = record.value(QLatin1String("url")).toString();
    const QString title = record.value(QLatin1String("title")).toString();
    const bool pinned = record.value(QLatin1String("pinned")).toBool();

    BrowserWindow *tab = createTab(title.isEmpty() ? QStringLiteral("New Tab") : title, false);
    const int index = tabWidget->indexOf(tab);
    if (pinned) {
        tabWidget->tabBar()->setTabData(index, true);
        tabWidget->setTabIcon(index, lockIcon());
    }
    if (url.isEmpty() || url == BrowserWindow::vpnWarningAddress()) {
        if (vpnManager->isConnected())
            tab->loadUrl(QUrl(homePage()));
        else
            tab->showVPNWarning();
        return;
    }
    QUrl address(url, QUrl::TolerantMode);
    address.setScheme(address.scheme().toLower());
    // The page refuses it behind the warning while the gate is closed.
    tab->loadUrl(address);
}

QIcon MainWindow::lockIcon() const
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QFont font = painter.font();
    font.setPixelSize(24);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("🔒"));
    painter.end();
    return QIcon(pixmap);
}

void MainWindow::onTabContextMenu(const QPoint &pos)
{
    const int index = tabWidget->tabBar()->tabAt(pos);
    if (index < 0)
        return;
    QMenu menu(this);
    const bool pinned = tabWidget->tabBar()->tabData(index).toBool();
    auto *tab = qobject_cast<BrowserWindow *>(tabWidget->widget(index));
    connect(menu.addAction(QStringLiteral("Duplicate Tab")), &QAction::triggered, this,
            [this, index] { onDuplicateTab(index); });
    connect(menu.addAction(pinned ? QStringLiteral("Unpin Tab") : QStringLiteral("Pin Tab")), &QAction::triggered,
            this, [this, index, pinned] { pinned ? onUnpinTab(index) : onPinTab(index); });
    if (tab) {
        const bool muted = tab->isMuted();
        connect(menu.addAction(muted ? QStringLiteral("Unmute Tab") : QStringLiteral("Mute Tab")),
                &QAction::triggered, this, [this, index, muted] { muted ? onUnmuteTab(index) : onMuteTab(index); });
    }
    menu.addSeparator();
    QAction *reopen = menu.addAction(QStringLiteral("Reopen Closed Tab"));
    showShortcut(reopen, QStringLiteral("Ctrl+Shift+T"));
    reopen->setEnabled(closedTabList->count() > 0);
    connect(reopen, &QAction::triggered, this, &MainWindow::onReopenClosedTab);
    QAction *close = menu.addAction(QStringLiteral("Close Tab"));
    showShortcut(close, QStringLiteral("Ctrl+W"));
    connect(close, &QAction::triggered, this, [this, index] { onCloseTab(index); });
    menu.exec(tabWidget->tabBar()->mapToGlobal(pos));
}

void MainWindow::onPinTab(int index)
{
    if (index < 0 || index >= tabWidget->count())
        return;
    tabWidget->tabBar()->setTabData(index, true);
    tabStrip->setIcon(tabWidget->widget(index), lockIcon());
    tabStrip->flush();
    saveSession();
}

void MainWindow::onUnpinTab(int index)
{
    if (index < 0 || index >= tabWidget->count())
        return;
    tabWidget->tabBar()->setTabData(index, false);
    auto *tab = qobject_cast<BrowserWindow *>(tabWidget->widget(index));
    tabStrip->setIcon(tab, tab && !tab->favicon().isNull() ? QIcon(tab->favicon()) : QIcon());
    tabStrip->flush();
    saveSession();
}

void MainWindow::onMuteTab(int index)
{
    if (auto *tab = qobject_cast<BrowserWindow *>(tabWidget->widget(index)))
        tab->setMuted(true);
}

void MainWindow::onUnmuteTab(int index)
{
    if (auto *tab = qobject_cast<BrowserWindow *>(tabWidget->widget(index)))
        tab->setMuted(false);
}

void MainWindow::onDuplicateTab(int index)
{
    auto *source = qobject_cast<BrowserWindow *>(tabWidget->widget(index));
    if (!source)
        return;
    const QUrl address(source->sessionUrl(), QUrl::TolerantMode);
    onNewTab();
    // A copy is a new load like any other: without a tunnel it would leave
    // outside it, so it waits behind the warning page like its source.
    if (BrowserWindow *copy = currentBrowser(); copy && !address.isEmpty())
        openUrlInTab(copy, address);
}

// ---- VPN and account -----------------------------------------------------

void MainWindow::setupVPN()
{
    connect(vpnManager, &VPNManager::statusChanged, this, &MainWindow::onVPNStatusChanged);
    // A tunnel that blinked (traffic stopped, the drop never confirmed) lets
    // the pages refused meanwhile go where they were headed.
    connect(vpnManager, &VPNManager::trafficAllowedChanged, this, [this](bool allowed) {
        if (allowed && vpnManager->isConnected())
            updateVPNStatus();
    });
    // The main window alone reports what the VPN manager has to say.
    if (primaryWindow)
        return;
    // No request of ours leaves outside the tunnel: lists update only inside it.
    contentBlocker->setTunnelUp(vpnManager->isTrafficAllowed());
    connect(vpnManager, &VPNManager::trafficAllowedChanged, contentBlocker, &ContentBlocker::setTunnelUp);
    connect(vpnManager, &VPNManager::keysUpdated, this, [this](const QJsonObject &keys) {
        const QString user = keys.value(QLatin1String("username")).toString();
        const QString ip = keys.value(QLatin1String("wireguard")).toObject().value(QLatin1String("client_ip")).toString();
        // Both come from the account service.
        PlainMessageBox::information(this, QStringLiteral("Keys Synced"),
                                     QStringLiteral("Keys synced for %1\nWireGuard IP: %2").arg(user, ip));
        statusBar()->showMessage(QStringLiteral("VPN Keys Synced Correctly"));
    });
    // Every tool failure reaches the user: in the status bar, and in one
    // message box that collects what failed until it is closed. Tool output
    // is part of the message, so it is shown as plain text.
    connect(vpnManager, &VPNManager::connectionError, this, [this](const QString &message) {
        statusBar()->showMessage(QString(message).replace(QLatin1Char('\n'), QLatin1Char(' ')), 10000);
        auto *box = findChild<QMessageBox *>(QStringLiteral("vpnFailureBox"), Qt::FindDirectChildrenOnly);
        if (box) {
            box->setText(box->text() + QStringLiteral("\n\n") + message);
            return;
        }
        // Not exec(): the manager is in the middle of its work when it reports.
        box = new QMessageBox(QMessageBox::Warning, QStringLiteral("VPN Connection"), message, QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("vpnFailureBox"));
        box->setTextFormat(Qt::PlainText);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
    connect(vpnManager, &VPNManager::tunnelNotice, this,
            [this](const QString &message) { statusBar()->showMessage(message, 10000); });
}

void MainWindow::onVPNStatusChanged(bool)
{
    updateVPNStatus();
}

void MainWindow::updateVPNStatus()
{
    BrowserWindow *tab = currentBrowser();
    if (vpnManager->isConnected()) {
        vpnStatusLabel->setText(QStringLiteral("🟢 VPN Connected"));
        vpnStatusLabel->setStyleSheet(QStringLiteral("padding: 4px 12px; background: #0078d4; border-radius: 4px;"));
        vpnButton->setText(QStringLiteral("🔴 Disconnect VPN"));
        if (tab && tab->isShowingVPNWarning()) {
            // Back to the page that was refused, or home when there was none.
            const QUrl refused = tab->refusedUrl();
            tab->loadUrl(refused.isValid() ? refused : QUrl(homePage()));
        }
        // Tabs kept behind the warning (restored, handed over from the
        // command line, refused in the background) go where they were headed.
        for (int i = 0; i < tabWidget->count(); ++i) {
            auto *other = qobject_cast<BrowserWindow *>(tabWidget->widget(i));
            if (other && other != tab && other->isShowingVPNWarning() && other->refusedUrl().isValid())
                other->loadUrl(other->refusedUrl());
        }
    } else {
        vpnStatusLabel->setText(QStringLiteral("🔴 VPN Disconnected"));
        vpnStatusLabel->setStyleSheet(QStringLiteral("padding: 4px 12px; background: #3d3d3d; border-radius: 4px;"));
        vpnButton->setText(QStringLiteral(" Connect VPN"));
        if (tab) {
            tab->showVPNWarning();
            urlBar->setText(BrowserWindow::vpnWarningAddress());
        }
    }
}

void MainWindow::onVPNDialog()
{
    if (vpnManager->isConnected()) {
        if (QMessageBox::question(this, QStringLiteral("Disconnect VPN"),
                                  QStringLiteral("Are you sure you want to disconnect from VPN?"),
                                  QMessageBox::Yes | QMessageBox::No)
            == QMessageBox::Yes)
            vpnManager->disconnectVPN();
        return;
    }
    const QString path = vpnFileChooser ? vpnFileChooser(this)
                                        : QFileDialog::getOpenFileName(
                                              this, QStringLiteral("Select VPN Config"),
                                              QStandardPaths::writableLocation(QStandardPaths::DownloadLocation),
                                              QStringLiteral("VPN Configs (*.ovpn *.conf)"));
    if (path.isEmpty())
        return;
    const QString type = tunnelTypeForFile(path);
    // Pages can drop files into the download folder without asking, and the
    // tools run what the file says as root.
    if (VPNConfigReview::isDownloaded(path, downloadManager->getDownloadHistory())) {
        QFile file(path);
        std::optional<QString> text;
        if (file.open(QIODevice::ReadOnly))
            text = QString::fromUtf8(file.read(1024 * 1024));
        QMessageBox question(QMessageBox::Warning, QStringLiteral("Downloaded VPN Configuration"),
                             VPNConfigReview::downloadWarning(path, text, type), QMessageBox::Yes | QMessageBox::No, this);
        question.setTextFormat(Qt::PlainText);
        question.setDefaultButton(QMessageBox::No);
        if (question.exec() != QMessageBox::Yes)
            return;
    }
    vpnManager->connectVPN(path, type);
}

QString MainWindow::tunnelTypeForFile(const QString &path)
{
    // "CONFIG.OVPN" is an OpenVPN file too: handing it to wg-quick would only fail.
    return path.endsWith(QLatin1String(".ovpn"), Qt::CaseInsensitive) ? QStringLiteral("openvpn")
                                                                      : QStringLiteral("wireguard");
}

void MainWindow::onVPNConnect()
{
    onVPNDialog();
}

void MainWindow::onVPNDisconnect()
{
    if (!vpnManager->isConnected())
        return;
    if (QMessageBox::question(this, QStringLiteral("Disconnect VPN"),
                              QStringLiteral("Are you sure you want to disconnect from VPN?"),
                              QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes)
        vpnManager->disconnectVPN();
}

void MainWindow::onAccountLogin()
{
    LoginDialog dialog(this);
    // Signing up happens on the vendor's site, which must open even before a tunnel exists.
    connect(&dialog, &LoginDialog::signUpRequested, this, [this](const QUrl &url) {
        onNewTab();
        if (BrowserWindow *tab = currentBrowser())
            tab->loadUrl(url);
    });
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString token = dialog.getToken();
    const QString user = dialog.getUsername();
    accountSyncManager->saveToken(token, user);
    statusBar()->showMessage(QStringLiteral("Logged in as ") + user + QStringLiteral(". Syncing VPN keys..."));
    accountSyncManager->syncKeys(token);
}

// Logged out it logs in; logged in it offers both.
void MainWindow::onAccountButton(QWidget *button)
{
    if (!accountSyncManager->hasValidToken()) {
        onAccountLogin();
        return;
    }
    QMenu menu(this);
    // The name comes from the account service: '&' would mark a shortcut.
    QString user = accountSyncManager->getSavedUsername();
    QAction *who = menu.addAction(QStringLiteral("Logged in as ") + user.replace(QLatin1Char('&'), QStringLiteral("&&")));
    who->setEnabled(false);
    menu.addSeparator();
    connect(menu.addAction(QStringLiteral("Log in")), &QAction::triggered, this, &MainWindow::onAccountLogin);
    connect(menu.addAction(QStringLiteral("Log out")), &QAction::triggered, this, &MainWindow::onAccountLogout);
    menu.exec(button->mapToGlobal(QPoint(0, button->height())));
}

void MainWindow::onAccountLogout()
{
    if (!PlainMessageBox::ask(this, QStringLiteral("Log out"),
                              QStringLiteral("Log out of your OrvexVPN account?\n\nThe saved login and the WireGuard "
                                             "configuration synced from the account are removed from this computer.")))
        return;
    if (accountSyncManager->logOut())
        statusBar()->showMessage(QStringLiteral("Logged out"), 5000);
    else
        PlainMessageBox::warning(this, QStringLiteral("Log out"),
                                 QStringLiteral("Logged out, but these files could not be changed:\n")
                                     + QDir::toNativeSeparators(accountSyncManager->tokenStorePath()) + QLatin1Char('\n')
                                     + QDir::toNativeSeparators(accountSyncManager->wireGuardConfigPath()));
}

void MainWindow::onWipeEverything()
{
    if (!PlainMessageBox::ask(this, QStringLiteral("Wipe Everything"),
                              QStringLiteral("Delete the browsing history, bookmarks, saved passwords, settings, the "
                                             "last session, the downloads list, cookies and cache?\n\n"
                                             "This cannot be undone.")))
        return;
    QStringList failed = dataManager->clearAll();
    failed << downloadManager->clearHistory();
    failed << StoreFile::removeDamagedCopies(searchManager->getEnginesPath());
    // Closed tabs keep their pages' saved state, typed text included.
    if (!closedTabList->clear())
        failed << closedTabList->filePath();
    clearWebData();
    // The settings are the defaults again.
    pushPrivacySettingsToAllTabs();
    // Otherwise the address bar keeps suggesting the wiped addresses.
    updateAutocomplete();
    if (failed.isEmpty()) {
        statusBar()->showMessage(QStringLiteral("All data cleared!"), 3000);
        return;
    }
    for (QString &path : failed)
        path = QDir::toNativeSeparators(path);
    statusBar()->showMessage(QStringLiteral("Some data could not be cleared"), 5000);
    PlainMessageBox::warning(this, QStringLiteral("Wipe Everything"),
                             QStringLiteral("Some data could not be cleared:\n") + failed.join(QLatin1Char('\n')));
}

void MainWindow::clearWebData()
{
    QWebEngineProfile *profile = QWebEngineProfile::defaultProfile();
    profile->cookieStore()->deleteAllCookies();
    profile->clearHttpCache();
    profile->clearAllVisitedLinks();
}
