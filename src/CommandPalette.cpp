#include "CommandPalette.h"

#include "MainWindow.h"

#include "BookmarksDialog.h"
#include "BrowserWindow.h"
#include "DataManager.h"
#include "PasswordDialog.h"
#include "SiteShield.h"
#include "VPNManager.h"

#include <QHash>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

CommandPalette::CommandPalette(MainWindow *parent)
    : QDialog(parent)
    , mainWindow(parent)
{
    setWindowFlags(Qt::FramelessWindowHint | Qt::Popup);
    setAttribute(Qt::WA_DeleteOnClose, false);
    resize(600, 400);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(10);
    searchInput = new QLineEdit(this);
    searchInput->setPlaceholderText(QStringLiteral("Type a command..."));
    layout->addWidget(searchInput);
    commandList = new QListWidget(this);
    layout->addWidget(commandList);

    connect(searchInput, &QLineEdit::textChanged, this, &CommandPalette::onTextChanged);
    connect(commandList, &QListWidget::itemClicked, this, &CommandPalette::onitemClicked);
    connect(commandList, &QListWidget::itemActivated, this, &CommandPalette::onitemClicked);
    searchInput->installEventFilter(this);

    setStyleSheet(QStringLiteral(
        "QDialog { background: #1a1a1e; border: 2px solid #00e5ff; border-radius: 10px; }"
        "QLineEdit { background: #25252b; color: white; border: none; border-bottom: 2px solid #333; "
        "padding: 12px; font-size: 16px; font-family: 'Segoe UI', sans-serif; border-radius: 5px; }"
        "QLineEdit:focus { border-bottom: 2px solid #00e5ff; }"
        "QListWidget { background: transparent; border: none; outline: none; }"
        "QListWidget::item { color: #ccc; padding: 10px; border-radius: 5px; }"
        "QListWidget::item:selected { background: #00e5ff; color: #000000; }"));
}

bool CommandPalette::matches(const QString &query, const QString &name, const QString &description)
{
    if (query.isEmpty())
        return true;
    const QString q = query.toLower();
    return name.toLower().contains(q) || description.toLower().contains(q);
}

QString CommandPalette::rowText(const CommandItem &item)
{
    const QString shortcut = shortcutFor(item.name);
    const QString key = shortcut.isEmpty() ? QString() : QStringLiteral("   (") + shortcut + QLatin1Char(')');
    return item.icon + QStringLiteral("  ") + item.name + key + QStringLiteral("\n    ") + item.description;
}

QString CommandPalette::shortcutFor(const QString &name)
{
    static const QHash<QString, QString> keys{
        {QStringLiteral("New Tab"), QStringLiteral("Ctrl+T")},
        {QStringLiteral("Close Tab"), QStringLiteral("Ctrl+W")},
        {QStringLiteral("Reopen Closed Tab"), QStringLiteral("Ctrl+Shift+T")},
        {QStringLiteral("Reload"), QStringLiteral("F5")},
        {QStringLiteral("Developer Tools"), QStringLiteral("Ctrl+Shift+I")},
        {QStringLiteral("History"), QStringLiteral("Ctrl+H")},
        {QStringLiteral("Bookmark This Page"), QStringLiteral("Ctrl+D")},
        {QStringLiteral("Downloads"), QStringLiteral("Ctrl+J")},
        {QStringLiteral("Print"), QStringLiteral("Ctrl+P")},
        {QStringLiteral("Find in Page"), QStringLiteral("Ctrl+F")},
        {QStringLiteral("Fullscreen"), QStringLiteral("F11")},
        {QStringLiteral("Reset Zoom"), QStringLiteral("Ctrl+0")},
        {QStringLiteral("Ghost Mode"), QStringLiteral("Ctrl+Shift+N")},
    };
    return keys.value(name);
}

void CommandPalette::showStatus(const QString &message)
{
    if (mainWindow)
        mainWindow->statusBar()->showMessage(message, 3000);
}

QString CommandPalette::protectionDescription(const MainWindow *window)
{
    const SiteShield *shield = window ? window->siteShield() : nullptr;
    if (!shield || shield->site().isEmpty())
        return QStringLiteral("Turn ad and tracker blocking off or on for the current site");
    return shield->isProtectionOn()
        ? QStringLiteral("On for %1: turn ad and tracker blocking off there").arg(shield->site())
        : QStringLiteral("Off for %1: turn ad and tracker blocking on again").arg(shield->site());
}

void CommandPalette::populateCommands()
{
    commands.clear();
    // Every action looks its target up when it runs and does nothing when the
    // window lacks it, so a half-built window cannot crash the palette.
    MainWindow *w = mainWindow;
    auto slot = [w](void (MainWindow::*member)()) {
        return [w, member] {
            if (w)
                (w->*member)();
        };
    };
    // Opens the manager and starts `step` in it once it shows, so the file
    // dialog and the result appear over the list they change.
    auto bookmarksThen = [w](void (BookmarksDialog::*step)()) {
        return [w, step] {
            if (!w || !w->dataManager)
                return;
            auto *dialog = new BookmarksDialog(w->dataManager, w);
            QObject::connect(dialog, &BookmarksDialog::urlSelected, w, [w](const QUrl &url) {
                if (BrowserWindow *tab = w->currentBrowser())
                    tab->loadUrl(url);
            });
            QTimer::singleShot(0, dialog, step);
            dialog->exec();
            dialog->deleteLater();
            w->updateAutocomplete();
        };
    };
    auto passwordsThen = [w](void (PasswordDialog::*step)()) {
        return [w, step] {
            if (!w || !w->dataManager)
                return;
            auto *dialog = new PasswordDialog(w->dataManager, w);
            QTimer::singleShot(0, dialog, step);
            dialog->exec();
            dialog->deleteLater();
        };
    };
    auto connectTo = [w](const QString &country) {
        return [w, country] {
            if (w && w->vpnManager)
                w->vpnManager->connectToCountry(country);
        };
    };

    commands = {
        {QStringLiteral("New Tab"), QStringLiteral("Open a new browser tab"), QStringLiteral("\U0001F4C4"),
         slot(&MainWindow::onNewTab)},
        {QStringLiteral("Close Tab"), QStringLiteral("Close current tab"), QStringLiteral("\u2716\uFE0F"),
         [w] {
             if (w && w->tabWidget && w->tabWidget->currentIndex() >= 0)
                 w->onCloseTab(w->tabWidget->currentIndex());
         }},
        {QStringLiteral("Reopen Closed Tab"), QStringLiteral("Bring back the last closed tab"),
         QStringLiteral("\u21A9\uFE0F"), slot(&MainWindow::onReopenClosedTab)},
        {QStringLiteral("Reload"), QStringLiteral("Reload the current page"), QStringLiteral("\U0001F504"),
         slot(&MainWindow::onReloadClicked)},
        {QStringLiteral("Bookmark This Page"), QStringLiteral("Add the current page to the bookmarks"),
         QStringLiteral("\u2B50"), slot(&MainWindow::onBookmarkCurrentPage)},
        {QStringLiteral("Reset Zoom"), QStringLiteral("Show the page at its normal size"),
         QStringLiteral("\U0001F50E"), slot(&MainWindow::onZoomReset)},
        {QStringLiteral("Connect VPN"), QStringLiteral("Open VPN dialog"), QStringLiteral("\U0001F512"),
         slot(&MainWindow::onVPNDialog)},
        {QStringLiteral("Toggle AI Panel"), QStringLiteral("Show/Hide Orvex AI"), QStringLiteral("\U0001F916"),
         slot(&MainWindow::onSidePanelToggle)},
        {QStringLiteral("Developer Tools"), QStringLiteral("Inspect page"), QStringLiteral("\U0001F6E0\uFE0F"),
         slot(&MainWindow::onDevTools)},
        {QStringLiteral("History"), QStringLiteral("View browsing history"), QStringLiteral("\U0001F552"),
         slot(&MainWindow::onHistory)},
        {QStringLiteral("Bookmarks"), QStringLiteral("View bookmarks"), QStringLiteral("\u2B50"),
         slot(&MainWindow::onBookmarks)},
        {QStringLiteral("Import Bookmarks"), QStringLiteral("From an HTML bookmark file of Chrome, Firefox, Edge..."),
         QStringLiteral("\U0001F4E5"), bookmarksThen(&BookmarksDialog::onImportBookmarks)},
        {QStringLiteral("Export Bookmarks"), QStringLiteral("To an HTML bookmark file other browsers import"),
         QStringLiteral("\U0001F4E4"), bookmarksThen(&BookmarksDialog::onExportBookmarks)},
        {QStringLiteral("Import Passwords"), QStringLiteral("From a CSV file of Chrome, Edge, Firefox... or an OrvexBrowser file"),
         QStringLiteral("\U0001F511"), passwordsThen(&PasswordDialog::onImportPasswords)},
        {QStringLiteral("Export Passwords"), QStringLiteral("To a CSV file other browsers import (plain text)"),
         QStringLiteral("\U0001F511"), passwordsThen(&PasswordDialog::onExportPasswordsCsv)},
        {QStringLiteral("Downloads"), QStringLiteral("View downloads"), QStringLiteral("\u2B07\uFE0F"),
         slot(&MainWindow::onDownloads)},
        {QStringLiteral("Settings"), QStringLiteral("Browser preferences"), QStringLiteral("\u2699\uFE0F"),
         slot(&MainWindow::onSettings)},
        {QStringLiteral("Print"), QStringLiteral("Print current page"), QStringLiteral("\U0001F5A8\uFE0F"),
         slot(&MainWindow::onPrint)},
        {QStringLiteral("Find in Page"), QStringLiteral("Search text"), QStringLiteral("\U0001F50D"),
         slot(&MainWindow::onFindInPage)},
        {QStringLiteral("Fullscreen"), QStringLiteral("Toggle fullscreen mode"), QStringLiteral("\u26F6"),
         slot(&MainWindow::onFullScreen)},
        {QStringLiteral("Reader Mode"), QStringLiteral("Toggle reader view"), QStringLiteral("\U0001F4D6"),
         slot(&MainWindow::onReaderMode)},
        {QStringLiteral("Connect Iceland"), QStringLiteral("VPN: Connect to Iceland server"),
         QStringLiteral("\U0001F1EE\U0001F1F8"), connectTo(QStringLiteral("Iceland"))},
        {QStringLiteral("Connect USA"), QStringLiteral("VPN: Connect to US server"),
         QStringLiteral("\U0001F1FA\U0001F1F8"), connectTo(QStringLiteral("USA"))},
        {QStringLiteral("Connect Germany"), QStringLiteral("VPN: Connect to German server"),
         QStringLiteral("\U0001F1E9\U0001F1EA"), connectTo(QStringLiteral("Germany"))},
        {QStringLiteral("Disconnect VPN"), QStringLiteral("Disconnect from VPN"), QStringLiteral("\U0001F513"),
         slot(&MainWindow::onVPNDisconnect)},
        {QStringLiteral("Ghost Mode"), QStringLiteral("Enable stealth browsing (clear cookies + private)"),
         QStringLiteral("\U0001F47B"), slot(&MainWindow::onPrivateWindow)},
        {QStringLiteral("Wipe History"), QStringLiteral("Clear all browsing history"),
         QStringLiteral("\U0001F5D1\uFE0F"),
         [this, w] {
             if (!w || !w->dataManager)
                 return;
             w->dataManager->clearHistory();
             // Otherwise the address bar keeps suggesting the wiped addresses.
             w->updateAutocomplete();
             showStatus(QStringLiteral("History cleared!"));
         }},
        {QStringLiteral("Wipe Everything"), QStringLiteral("Clear all data (history, cookies, cache)"),
         QStringLiteral("\U0001F480"), slot(&MainWindow::onWipeEverything)},
        {QStringLiteral("Privacy Dashboard"), QStringLiteral("View privacy stats and settings"),
         QStringLiteral("\U0001F6E1\uFE0F"), slot(&MainWindow::onPrivacyDashboard)},
        {QStringLiteral("Protection on this site"), protectionDescription(w), QStringLiteral("\U0001F6E1\uFE0F"),
         slot(&MainWindow::onToggleSiteProtection)},
        {QStringLiteral("Update Filter Lists"), QStringLiteral("Download the ad and tracker lists now (only while the tunnel is up)"),
         QStringLiteral("\U0001F504"), slot(&MainWindow::onUpdateFilterLists)},
        {QStringLiteral("Login / Sync Keys"), QStringLiteral("Log in to OrvexVPN account"),
         QStringLiteral("\U0001F464"), slot(&MainWindow::onAccountLogin)},
        {QStringLiteral("Log out"), QStringLiteral("Forget the saved account and its WireGuard keys"),
         QStringLiteral("\U0001F6AA"), slot(&MainWindow::onAccountLogout)},
    };

    QTabWidget *tabs = w ? w->tabWidget : nullptr;
    const int tabCount = tabs ? tabs->count() : 0;
    for (int i = 0; i < tabCount; ++i) {
        commands.append({QStringLiteral("Switch to Tab: ") + tabs->tabText(i), QStringLiteral("Jump to open tab"),
                         QStringLiteral("\U0001F4D1"), [w, i] {
                             if (w && w->tabWidget)
                                 w->tabWidget->setCurrentIndex(i);
                         }});
    }
}

void CommandPalette::filterCommands(const QString &query)
{
    commandList->clear();
    for (int i = 0; i < commands.size(); ++i) {
        const CommandItem &item = commands.at(i);
        if (!matches(query, item.name, item.description))
            continue;
        auto *row = new QListWidgetItem(rowText(item), commandList);
        // The row's own index: tabs with equal titles must each reach their own tab.
        row->setData(Qt::UserRole, i);
    }
    if (commandList->count() > 0)
        commandList->setCurrentRow(0);
}

void CommandPalette::onTextChanged(const QString &text)
{
    filterCommands(text);
}

void CommandPalette::onitemClicked(QListWidgetItem *)
{
    // Where one click both clicks and activates an item, the second signal
    // arrives after the first already ran the command and hid the palette.
    if (!isVisible())
        return;
    executeSelected();
}

void CommandPalette::executeSelected()
{
    const QList<QListWidgetItem *> selected = commandList->selectedItems();
    if (selected.isEmpty())
        return;
    bool ok = false;
    const int index = selected.first()->data(Qt::UserRole).toInt(&ok);
    if (!ok || index < 0 || index >= commands.size())
        return;
    // Copied: the action may show the palette again, which rebuilds the list.
    const std::function<void()> action = commands.at(index).action;
    hide();
    if (action)
        action();
}

bool CommandPalette::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != searchInput || event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const int row = commandList->currentRow();
    switch (static_cast<QKeyEvent *>(event)->key()) {
    case Qt::Key_Down:
        if (row < commandList->count() - 1)
            commandList->setCurrentRow(row + 1);
        return true;
    case Qt::Key_Up:
        if (row > 0)
            commandList->setCurrentRow(row - 1);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        executeSelected();
        return true;
    case Qt::Key_Escape:
        hide();
        return true;
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void CommandPalette::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QWidget *parent = parentWidget())
        move(parent->geometry().center() - rect().center());
    populateCommands();
    filterCommands(QString());
    searchInput->setFocus();
    searchInput->clear();
}
