#pragma once

#include <QJsonObject>
#include <QMainWindow>
#include <QPalette>
#include <QPixmap>
#include <QPointer>
#include <QUrl>

#include <functional>

class QCompleter;
class QDialog;
class QTimer;
class QWebEngineFullScreenRequest;
class QWebEngineProfile;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QShortcut;
class QStringListModel;
class QTabWidget;
class QVBoxLayout;
class QWebEngineDownloadRequest;
class QWebEnginePage;

class AccountSyncManager;
class BrowserWindow;
class ContentBlocker;
class ClosedTabs;
class CommandPalette;
class DataManager;
class DownloadManager;
class FaviconManager;
class SearchManager;
class SidePanel;
class SiteShield;
class TabStripUpdater;
class VPNManager;

// The browser window: owns the long-lived managers, the toolbar, the tabs and
// the side panel, and dispatches every command to the current tab or a dialog.
class MainWindow : public QMainWindow
{
    Q_OBJECT
    friend class CommandPalette;

public:
    explicit MainWindow(QWidget *parent = nullptr);
    // Another window of `primary`, opened without tabs: it shares the primary
    // window's stores, VPN and downloads. A normal one keeps its tabs in the
    // primary's session. A private ("Ghost Mode") one browses on an
    // off-the-record profile of its own and keeps no history, session or
    // closed tabs.
    MainWindow(MainWindow *primary, bool privateWindow);
    ~MainWindow() override;

    bool isPrivate() const { return privateProfile != nullptr; }
    QWebEngineProfile *webProfile() const;
    QList<MainWindow *> privateWindows() const;
    // The primary's other normal windows, in the order they were opened.
    QList<MainWindow *> secondaryWindows() const;
    // Opens another (normal or private) window of this window's primary.
    MainWindow *openWindow(bool privateWindow);

    // Opens each address in a new tab, the first one current, and brings
    // the window to the front (addresses handed over from the command line).
    void openUrls(const QList<QUrl> &urls);

    // The application palette set by main(): dark, blue highlight.
    static QPalette darkPalette();

    // Address-bar rule: text that names a place is an address, anything else
    // is handed to the search engine (an invalid URL is returned for it).
    // Addresses: an explicit "http://", "https://", "file:", "about:" or
    // "data:" form (any letter case); text with a dot and no blank; and
    // "localhost", an IP address or a host with a port, with or without a
    // path. A bare host gets "https://" in front, localhost and IP literals
    // "http://". One word without a dot or port stays a search.
    static QUrl addressFromText(const QString &text);

    // Asks for the VPN configuration to connect with (a file dialog by default).
    using FileChooser = std::function<QString(QWidget *parent)>;
    void setVpnFileChooser(FileChooser chooser) { vpnFileChooser = std::move(chooser); }

    // "openvpn" for an .ovpn file (any letter case), otherwise "wireguard".
    static QString tunnelTypeForFile(const QString &path);

    BrowserWindow *currentBrowser() const;

    // For the palette, the tests and the benchmarks.
    QTabWidget *tabs() const { return tabWidget; }
    QLineEdit *addressBar() const { return urlBar; }
    VPNManager *vpn() const { return vpnManager; }
    DataManager *data() const { return dataManager; }
    DownloadManager *downloads() const { return downloadManager; }
    SearchManager *search() const { return searchManager; }
    AccountSyncManager *accountSync() const { return accountSyncManager; }
    // Filter lists, the compiled engine and the per-site switch (shared by
    // the private windows).
    ContentBlocker *blocker() const { return contentBlocker; }
    SiteShield *siteShield() const { return shieldButton; }
    SidePanel *assistantPanel() const { return sidePanel; }
    CommandPalette *palette() const { return commandPalette; }
    QLabel *vpnLabel() const { return vpnStatusLabel; }
    QPushButton *vpnToggleButton() const { return vpnButton; }
    QPushButton *reloadToolButton() const { return reloadButton; }
    QDialog *findWindow() const { return findDialog; }
    ClosedTabs *closedTabs() const { return closedTabList; }
    QPushButton *backToolButton() const { return backButton; }
    QPushButton *forwardToolButton() const { return forwardButton; }
    bool isPageFullScreen() const { return pageFullScreen; }

public Q_SLOTS:
    void onNewTab();
    void onCloseTab(int index);
    void onTabChanged(int index);
    void onBackClicked();
    void onForwardClicked();
    void onReloadClicked();
    void onUrlEntered();
    void onVPNConnect();
    void onVPNDisconnect();
    void onVPNStatusChanged(bool connected);
    void onVPNDialog();
    void onBookmarks();
    void onHistory();
    void onFindInPage();
    void onSettings();
    void onPrivacyDashboard();
    void onPasswordManager();
    void onDownloads();
    void onAccountLogin();
    void onAccountLogout(); // asks first
    void onWipeEverything(); // asks first
    void onPrint();
    void onPrintFailed(const QString &message);
    void onZoomIn();
    void onZoomOut();
    void onZoomReset();
    void onFullScreen();
    void onDevTools();
    void onSidePanelToggle();
    void onCommandPalette();
    void onReaderMode();
    void onBrowserUrlChanged(const QUrl &url);
    void onBrowserTitleChanged(const QString &title);
    void onBrowserLoadFinished(bool ok);
    void onBrowserFaviconChanged(const QPixmap &pixmap);
    void onDownloadRequested(QWebEngineDownloadRequest *download);
    void onTabContextMenu(const QPoint &pos);
    void onPinTab(int index);
    void onUnpinTab(int index);
    void onMuteTab(int index);
    void onUnmuteTab(int index);
    void onDuplicateTab(int index);
    void onManageBookmarks();
    void onReopenClosedTab();
    void onNextTab();
    void onPreviousTab();
    void onSelectTab(int number); // 1..8 a position, 9 the last tab
    void onStopClicked();
    void onReloadBypassingCache();
    void onFocusAddressBar();
    void onBookmarkCurrentPage();
    void onPrivateWindow();
    // "Protection on this site" for the current tab, and "Update filter lists".
    void onToggleSiteProtection();
    void onUpdateFilterLists();

public:
    void saveSession();
    // Writes the session about a second after the last change; quicker
    // changes are gathered into one write.
    void scheduleSessionSave();
    void restoreSession();
    void updateAutocomplete();
    void updateVPNStatus();
    // Clears cookies, the HTTP cache and the visited links of the web profile ("Wipe Everything").
    void clearWebData();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void showPageAddress(const QString &address);
    static QString shownAddress(const BrowserWindow *tab);
    void init();
    QJsonArray sessionRecords(int windowIndex) const;
    void restoreTab(const QJsonObject &record);
    void setupShortcuts();
    void setupUI();
    void applyCyberpunkTheme();
    void setupAutocomplete();
    void setupVPN();
    void onAccountButton(QWidget *button);
    BrowserWindow *createTab(const QString &text, bool connectAll, int index = -1);
    QWebEnginePage *createPageFor(BrowserWindow *opener, int type);
    void updateNavigationButtons();
    void onPageFullScreenRequested(BrowserWindow *tab, QWebEngineFullScreenRequest request);
    void leavePageFullScreen();
    void restoreFromPageFullScreen();
    void connectTabBasics(BrowserWindow *tab, bool shortensTitles);
    void setTabTextIfChanged(int index, const QString &text);
    // Loads url in tab (the page shows the warning while the gate refuses it).
    void openUrlInTab(BrowserWindow *tab, const QUrl &url);
    void pushPrivacySettingsToAllTabs();
    void updateShield();
    void onSiteProtectionChanged(const QString &site, bool on);
    QIcon lockIcon() const;

    QWidget *centralWidget = nullptr;
    QVBoxLayout *centralLayout = nullptr;
    QHBoxLayout *toolbarLayout = nullptr;
    QPushButton *backButton = nullptr;
    QPushButton *forwardButton = nullptr;
    QPushButton *reloadButton = nullptr;
    QLineEdit *urlBar = nullptr;
    QPushButton *vpnButton = nullptr;
    QPushButton *bookmarksButton = nullptr;
    QPushButton *historyButton = nullptr;
    QPushButton *settingsButton = nullptr;
    QLabel *vpnStatusLabel = nullptr;
    QTabWidget *tabWidget = nullptr;
    TabStripUpdater *tabStrip = nullptr;
    SidePanel *sidePanel = nullptr;
    CommandPalette *commandPalette = nullptr;
    VPNManager *vpnManager = nullptr;
    DataManager *dataManager = nullptr;
    DownloadManager *downloadManager = nullptr;
    SearchManager *searchManager = nullptr;
    FaviconManager *faviconManager = nullptr;
    AccountSyncManager *accountSyncManager = nullptr;
    ContentBlocker *contentBlocker = nullptr;
    SiteShield *shieldButton = nullptr;
    QDialog *findDialog = nullptr;
    QCompleter *urlCompleter = nullptr;
    QStringListModel *completerModel = nullptr;
    FileChooser vpnFileChooser;

    QPointer<MainWindow> primaryWindow;
    QList<QPointer<MainWindow>> otherWindows; // of the primary window
    bool userClosed = false;         // a window the user closed leaves the session
    bool closingWithPrimary = false; // ...one closed with the primary stays in it
    bool sessionSealed = false;      // the primary closed: the session is final
    bool destroying = false;
    QWebEngineProfile *privateProfile = nullptr;
    ClosedTabs *closedTabList = nullptr;
    QTimer *sessionTimer = nullptr;
    QTimer *completionTimer = nullptr;
    QWidget *toolbarWidget = nullptr;
    QShortcut *stopShortcut = nullptr;
    QPointer<BrowserWindow> fullScreenTab;
    bool pageFullScreen = false;
    bool wasFullScreenBeforePage = false;
    bool wasMaximizedBeforePage = false;
};
