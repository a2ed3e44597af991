#include "BrowserWindow.h"
#include "DataManager.h"
#include "MainWindow.h"
#include "Theme.h"
#include "WebSettingsApplier.h"

#include <QApplication>
#include <QIcon>
#include <QPalette>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    // Qt WebEngine shares OpenGL contexts with the widgets; must be set before the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The engine reads its switches once per process: the stored ones apply from this start.
    const QJsonObject settings = WebSettingsApplier::storedSettings(DataManager::defaultSettingsPath());
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            WebSettingsApplier::startupFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), settings));
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("OrvexBrowser"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0.0"));
    QCoreApplication::setOrganizationName(QStringLiteral("OrvexVPN"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // The desktop's own palette decides what "System" means; keep it before ours replaces it.
    Theme::captureSystemPalette();
    const Theme::Kind theme = Theme::resolved(Theme::fromSettings(settings), Theme::systemIsDark());
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            WebSettingsApplier::colorSchemeFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"),
                                                 theme == Theme::Kind::Light ? WebSettingsApplier::ColorScheme::Light
                                                                             : WebSettingsApplier::ColorScheme::Dark));
    QApplication::setPalette(Theme::palette(theme));
    // Lets Wayland desktops match the window to its desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("net.orvexvpn.OrvexBrowser"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/orvex_icon.png")));

    int result = 0;
    {
        MainWindow window;
        window.show();
        result = app.exec();
    }
    BrowserWindow::finishPendingPrints();
    return result;
}
