#include "MainWindow.h"

#include "AccountSyncManager.h"
#include "BookmarksDialog.h"
#include "BrowserWindow.h"
#include "CommandPalette.h"
#include "DataManager.h"
#include "DownloadDialog.h"
#include "DownloadManager.h"
#include "FaviconManager.h"
#include "HistoryDialog.h"
#include "IconFactory.h"
#include "LoginDialog.h"
#include "PasswordDialog.h"
#include "PrivacyDashboard.h"
#include "PrivacyEngine.h"
#include "SearchManager.h"
#include "ServiceEndpoints.h"
#include "SettingsDialog.h"
#include "SidePanel.h"
#include "TabStripUpdater.h"
#include "Theme.h"
#include "VPNManager.h"
#include "WebSettingsApplier.h"

#include <QCompleter>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStringListModel>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

namespace {
const int kTabTextLength = 25;

QString homePage()
{
    return ServiceEndpoints::accountUrl();
}

bool isWebAddress(const QUrl &url)
{
    return url.scheme().startsWith(QLatin1String("http"));
}
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    vpnManager = new VPNManager(this);
    dataManager = new DataManager(this);
    downloadManager = new DownloadManager(this);
    searchManager = new SearchManager(this);
    faviconManager = new FaviconManager(this);

    setWindowTitle(QStringLiteral("OrvexBrowser"));
    resize(1200, 800);

    setupUI();
    applyCyberpunkTheme();
    setupVPN();

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

MainWindow::~MainWindow()
{
    saveSession();
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

    auto *toolbarWidget = new QWidget(centralWidget);
    toolbarWidget->setObjectName(QStringLiteral("toolbarWidget"));
    toolbarLayout = new QHBoxLayout(toolbarWidget);
    toolbarLayout->setContentsMargins(12, 12, 12, 12);
    toolbarLayout->setSpacing(10);

    auto iconButton = [toolbarWidget](const QString &tip, const QIcon &icon, int iconSize) {
        auto *button = new QPushButton(toolbarWidget);
        button->setToolTip(tip);
        button->setIcon(icon);
        button->setIconSize(QSize(iconSize, iconSize));
        button->setFixedSize(36, 36);
        return button;
    };

    vpnStatusLabel = new QLabel(QStringLiteral("🔴 VPN Disconnected"), toolbarWidget);
    vpnStatusLabel->setObjectName(QStringLiteral("vpnStatusLabel"));
    toolbarLayout->addWidget(vpnStatusLabel);

    backButton = iconButton(QStringLiteral("Back"), IconFactory::back(), 20);
    connect(backButton, &QPushButton::clicked, this, &MainWindow::onBackClicked);
    toolbarLayout->addWidget(backButton);
    forwardButton = iconButton(QStringLiteral("Forward"), IconFactory::forward(), 20);
    connect(forwardButton, &QPushButton::clicked, this, &MainWindow::onForwardClicked);
    toolbarLayout->addWidget(forwardButton);
    reloadButton = iconButton(QStringLiteral("Reload"), IconFactory::reload(), 18);
    connect(reloadButton, &QPushButton::clicked, this, &MainWindow::onReloadClicked);
    toolbarLayout->addWidget(reloadButton);

    urlBar = new QLineEdit(toolbarWidget);
    urlBar->setPlaceholderText(QStringLiteral("Search or enter address"));
    urlBar->setMinimumHeight(40);
    connect(urlBar, &QLineEdit::returnPressed, this, &MainWindow::onUrlEntered);
    setupAutocomplete();
    toolbarLayout->addWidget(urlBar, 1);

    vpnButton = new QPushButton(IconFactory::vpn(), QStringLiteral(" Connect VPN"), toolbarWidget);
    vpnButton->setMinimumHeight(36);
    vpnButton->setCursor(Qt::PointingHandCursor);
    connect(vpnButton, &QPushButton::clicked, this, &MainWindow::onVPNDialog);
    toolbarLayout->addWidget(vpnButton);

    bookmarksButton = iconButton(QStringLiteral("Bookmarks"), IconFactory::bookmark(), 20);
    connect(bookmarksButton, &QPushButton::clicked, this, &MainWindow::onBookmarks);
    toolbarLayout->addWidget(bookmarksButton);
    historyButton = iconButton(QStringLiteral("History"), IconFactory::history(), 20);
    connect(historyButton, &QPushButton::clicked, this, &MainWindow::onHistory);
    toolbarLayout->addWidget(historyButton);
    QPushButton *downloadsButton = iconButton(QStringLiteral("Downloads"), IconFactory::download(), 20);
    connect(downloadsButton, &QPushButton::clicked, this, &MainWindow::onDownloads);
    toolbarLayout->addWidget(downloadsButton);
    settingsButton = iconButton(QStringLiteral("Settings"), IconFactory::settings(), 20);
    connect(settingsButton, &QPushButton::clicked, this, &MainWindow::onSettings);
    toolbarLayout->addWidget(settingsButton);
    QPushButton *accountButton = iconButton(QStringLiteral("Account"), IconFactory::user(), 20);
    connect(accountButton, &QPushButton::clicked, this, &MainWindow::onAccountLogin);
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
    contentLayout->addWidget(tabWidget, 1);
    sidePanel = new SidePanel(this);
    sidePanel->hide();
    contentLayout->addWidget(sidePanel, 0);
    centralLayout->addLayout(contentLayout, 1);

    statusBar()->showMessage(QStringLiteral("Ready"));

    auto shortcut = [this](const QKeySequence &key, void (MainWindow::*slot)()) {
        auto *s = new QShortcut(key, this);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence::Find, &MainWindow::onFindInPage);
    shortcut(QKeySequence::Print, &MainWindow::onPrint);
    shortcut(QKeySequence::ZoomIn, &MainWindow::onZoomIn);
    shortcut(QKeySequence::ZoomOut, &MainWindow::onZoomOut);
    shortcut(QKeySequence(QStringLiteral("Ctrl+Shift+I")), &MainWindow::onDevTools);
    shortcut(QKeySequence(QStringLiteral("Ctrl+T")), &MainWindow::onNewTab);
    shortcut(QKeySequence(QStringLiteral("Ctrl+Shift+P")), &MainWindow::onCommandPalette);

    tabWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tabWidget, &QWidget::customContextMenuRequested, this, &MainWindow::onTabContextMenu);
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

QUrl MainWindow::addressFromText(const QString &input)
{
    const QString text = input.trimmed();
    if (text.isEmpty() || !text.contains(QLatin1Char('.')) || text.contains(QLatin1Char(' ')))
        return QUrl();
    if (text.startsWith(QLatin1String("http")) || text.startsWith(QLatin1String("about:"))
        || text.startsWith(QLatin1String("data:")))
        return QUrl(text, QUrl::TolerantMode);
    return QUrl(QStringLiteral("https://") + text, QUrl::TolerantMode);
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
            urlBar->setText(url.toString());
    });
    // A tab that shortens titles gets its final text from onBrowserTitleChanged,
    // connected right after; setting the full title first would only flicker.
    if (shortensTitles)
        return;
    connect(tab, &BrowserWindow::titleChanged, this, [this, tab](const QString &title) {
        setTabTextIfChanged(tabWidget->indexOf(tab), title.isEmpty() ? QStringLiteral("New Tab") : title);
    });
}

BrowserWindow *MainWindow::createTab(const QString &text, bool connectAll)
{
    auto *tab = new BrowserWindow(this, dataManager->getSettings(), faviconManager);
    tabWidget->addTab(tab, text);
    connectTabBasics(tab, connectAll);
    if (connectAll) {
        connect(tab, &BrowserWindow::loadStarted, this, [this] { reloadButton->setText(QStringLiteral("X")); });
        connect(tab, &BrowserWindow::loadFinished, this, [this](bool) {
            reloadButton->setIcon(IconFactory::reload());
            reloadButton->setText(QString());
        });
        connect(tab, &BrowserWindow::urlChanged, this, &MainWindow::onBrowserUrlChanged);
        connect(tab, &BrowserWindow::titleChanged, this, &MainWindow::onBrowserTitleChanged);
    }
    connect(tab, &BrowserWindow::loadFinished, this, &MainWindow::onBrowserLoadFinished);
    connect(tab, &BrowserWindow::faviconChanged, this, &MainWindow::onBrowserFaviconChanged);
    connect(tab, &BrowserWindow::downloadRequested, this, &MainWindow::onDownloadRequested);
    if (connectAll)
        connect(tab, &BrowserWindow::zoomFactorChanged, this, [](double) {});
    return tab;
}

void MainWindow::openUrlInTab(BrowserWindow *tab, const QUrl &url, bool gated)
{
    if (!tab)
        return;
    if (gated && isWebAddress(url) && !vpnManager->isConnected()) {
        tab->showVPNWarning(url);
        if (tab == currentBrowser())
            urlBar->setText(BrowserWindow::vpnWarningAddress());
        return;
    }
    tab->loadUrl(url);
}

void MainWindow::onNewTab()
{
    BrowserWindow *tab = createTab(QStringLiteral("New Tab"), true);
    tabWidget->setCurrentWidget(tab);
    if (vpnManager->isConnected())
        tab->loadUrl(QUrl(homePage()));
    else
        tab->showVPNWarning();
}

void MainWindow::onCloseTab(int index)
{
    if (tabWidget->count() <= 1)
        return;
    QWidget *page = tabWidget->widget(index);
    if (!page)
        return;
    tabWidget->removeTab(index);
    page->deleteLater();
    saveSession();
}

void MainWindow::onTabChanged(int)
{
    BrowserWindow *tab = currentBrowser();
    if (!tab)
        return;
    // A tab that stood in for a refused address goes back to it once the tunnel is up.
    if (vpnManager->isConnected() && tab->isShowingVPNWarning() && tab->refusedUrl().isValid())
        tab->loadUrl(tab->refusedUrl());
    urlBar->setText(tab->url().toString());
    backButton->setEnabled(tab->canGoBack());
    forwardButton->setEnabled(tab->canGoForward());
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
    const QString text = urlBar->text().trimmed();
    BrowserWindow *tab = currentBrowser();
    if (text.isEmpty() || !tab)
        return;
    QUrl address = addressFromText(text);
    if (!address.isValid())
        address = searchManager->searchUrl(text, QString());
    if (address.isEmpty())
        return;
    openUrlInTab(tab, address, true);
}

void MainWindow::onBrowserUrlChanged(const QUrl &url)
{
    if (sender() == currentBrowser())
        urlBar->setText(url.toString());
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
    auto *tab = qobject_cast<BrowserWindow *>(sender());
    if (!tab || !ok)
        return;
    const QString url = tab->url().toString();
    // The warning page is our own stand-in, not a visit.
    if (url.isEmpty() || url == BrowserWindow::vpnWarningAddress())
        return;
    dataManager->addHistory(url, tab->title());
    updateAutocomplete();
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
    downloadManager->addDownload(download);
}

// ---- Commands ------------------------------------------------------------

void MainWindow::onPrint()
{
    if (BrowserWindow *tab = currentBrowser())
        tab->print();
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
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
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
            // Titles are not ours: a "&" in one must not make the next letter a shortcut.
            QAction *action = menu.addAction(QString(title.isEmpty() ? url : title).replace(u'&', QLatin1String("&&")));
            connect(action, &QAction::triggered, this, [this, url] {
                if (BrowserWindow *tab = currentBrowser())
                    tab->loadUrl(QUrl(url));
            });
        }
    }
    menu.addSeparator();
    // Offered on an empty list too: otherwise no first bookmark could be made.
    QAction *add = menu.addAction(QStringLiteral("Add Current Page"));
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

void MainWindow::saveSession()
{
    if (!tabWidget || !dataManager)
        return;
    QJsonArray session;
    for (int i = 0; i < tabWidget->count(); ++i) {
        auto *tab = qobject_cast<BrowserWindow *>(tabWidget->widget(i));
        if (!tab)
            continue;
        QJsonObject record;
        record.insert(QStringLiteral("url"), tab->sessionUrl());
        record.insert(QStringLiteral("title"), tab->title());
        record.insert(QStringLiteral("pinned"), tabWidget->tabBar()->tabData(i).toBool());
        session.append(record);
    }
    dataManager->setSession(session);
}

void MainWindow::restoreSession()
{
    const QJsonArray session = dataManager->getSession();
    if (session.isEmpty()) {
        onNewTab();
        return;
    }
    for (const QJsonValue &value : session) {
        const QJsonObject record = value.toObject();
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
            continue;
        }
        QUrl address(url, QUrl::TolerantMode);
        address.setScheme(address.scheme().toLower());
        const QString scheme = address.scheme();
        if ((scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !vpnManager->isConnected())
            tab->showVPNWarning(address);
        else
            tab->loadUrl(address);
    }
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
    connect(menu.addAction(QStringLiteral("Close Tab")), &QAction::triggered, this,
            [this, index] { onCloseTab(index); });
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
        openUrlInTab(copy, address, true);
}

// ---- VPN and account -----------------------------------------------------

void MainWindow::setupVPN()
{
    connect(vpnManager, &VPNManager::statusChanged, this, &MainWindow::onVPNStatusChanged);
    connect(vpnManager, &VPNManager::keysUpdated, this, [this](const QJsonObject &keys) {
        const QString user = keys.value(QLatin1String("username")).toString();
        const QString ip = keys.value(QLatin1String("wireguard")).toObject().value(QLatin1String("client_ip")).toString();
        QMessageBox::information(this, QStringLiteral("Keys Synced"),
                                 QStringLiteral("Keys synced for %1\nWireGuard IP: %2").arg(user, ip));
        statusBar()->showMessage(QStringLiteral("VPN Keys Synced Correctly"));
    });
    // A failed connect by country would otherwise end in silence.
    connect(vpnManager, &VPNManager::connectionError, this,
            [this](const QString &message) { statusBar()->showMessage(message, 5000); });
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
    vpnManager->connectVPN(path, tunnelTypeForFile(path));
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

void MainWindow::clearWebData()
{
    QWebEngineProfile *profile = QWebEngineProfile::defaultProfile();
    profile->cookieStore()->deleteAllCookies();
    profile->clearHttpCache();
}
