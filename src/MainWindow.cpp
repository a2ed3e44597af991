#include "MainWindow.h"

#include <QTabWidget>
#include <QUrl>

// Temporary bodies while the window is being built.
MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("OrvexBrowser"));
    resize(1200, 800);
}

MainWindow::~MainWindow() = default;

QPalette MainWindow::darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(30, 30, 30));
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, QColor(45, 45, 45));
    p.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
    p.setColor(QPalette::Text, Qt::white);
    p.setColor(QPalette::Button, QColor(45, 45, 45));
    p.setColor(QPalette::ButtonText, Qt::white);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, QColor(0, 120, 212));
    p.setColor(QPalette::Highlight, QColor(0, 120, 212));
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::ToolTipBase, QColor(24, 24, 27));
    p.setColor(QPalette::ToolTipText, Qt::white);
    return p;
}

QUrl MainWindow::addressFromText(const QString &) { return QUrl(); }
BrowserWindow *MainWindow::currentBrowser() const { return nullptr; }
void MainWindow::saveSession() {}
void MainWindow::restoreSession() {}
void MainWindow::updateAutocomplete() {}
void MainWindow::updateVPNStatus() {}
void MainWindow::clearWebData() {}
void MainWindow::onNewTab() {}
void MainWindow::onCloseTab(int ) {}
void MainWindow::onTabChanged(int ) {}
void MainWindow::onBackClicked() {}
void MainWindow::onForwardClicked() {}
void MainWindow::onReloadClicked() {}
void MainWindow::onUrlEntered() {}
void MainWindow::onVPNConnect() {}
void MainWindow::onVPNDisconnect() {}
void MainWindow::onVPNStatusChanged(bool ) {}
void MainWindow::onVPNDialog() {}
void MainWindow::onBookmarks() {}
void MainWindow::onHistory() {}
void MainWindow::onFindInPage() {}
void MainWindow::onSettings() {}
void MainWindow::onPrivacyDashboard() {}
void MainWindow::onPasswordManager() {}
void MainWindow::onDownloads() {}
void MainWindow::onAccountLogin() {}
void MainWindow::onPrint() {}
void MainWindow::onZoomIn() {}
void MainWindow::onZoomOut() {}
void MainWindow::onZoomReset() {}
void MainWindow::onFullScreen() {}
void MainWindow::onDevTools() {}
void MainWindow::onSidePanelToggle() {}
void MainWindow::onCommandPalette() {}
void MainWindow::onReaderMode() {}
void MainWindow::onBrowserUrlChanged(const QUrl &) {}
void MainWindow::onBrowserTitleChanged(const QString &) {}
void MainWindow::onBrowserLoadFinished(bool ) {}
void MainWindow::onBrowserFaviconChanged(const QPixmap &) {}
void MainWindow::onDownloadRequested(QWebEngineDownloadRequest *) {}
void MainWindow::onTabContextMenu(const QPoint &) {}
void MainWindow::onPinTab(int ) {}
void MainWindow::onUnpinTab(int ) {}
void MainWindow::onMuteTab(int ) {}
void MainWindow::onUnmuteTab(int ) {}
void MainWindow::onDuplicateTab(int ) {}
void MainWindow::onManageBookmarks() {}
