#include "BrowserWindow.h"
#include "CommandLine.h"
#include "DataManager.h"
#include "EngineProxy.h"
#include "MainWindow.h"
#include "SingleInstance.h"
#include "Theme.h"
#include "WebSettingsApplier.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QPalette>
#include <QStandardPaths>
#include <QStyleFactory>

#include <cstdio>

int main(int argc, char *argv[])
{
    // --help and --version answer before anything needs a display.
    QStringList early;
    for (int i = 1; i < argc; ++i)
        early.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine::Parsed asked = CommandLine::parse(early, QString());
    if (asked.help) {
        std::fputs(CommandLine::usage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (asked.version) {
        std::puts("OrvexBrowser 2.0.0");
        return 0;
    }

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
    // Our own requests leave the way the user sent the engine's.
    EngineProxy::install(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"));

    // Qt has taken its own options out of the arguments by now.
    const CommandLine::Parsed command = CommandLine::parse(app.arguments().mid(1), QDir::currentPath());
    for (const QString &error : command.errors)
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
    QStringList urls;
    for (const QUrl &url : command.urls)
        urls.append(url.toString(QUrl::FullyEncoded));

    const QString dataFolder =
        QStandardPaths::writableLocation(QStandardPaths::ConfigLocation) + QStringLiteral("/orvexbrowser");
    SingleInstance instance(SingleInstance::defaultSocketPath(dataFolder));
    switch (instance.sendToRunning(urls)) {
    case SingleInstance::Handover::Delivered:
        return 0;
    case SingleInstance::Handover::NotResponding:
        std::fputs("orvexbrowser: a running OrvexBrowser does not answer; try again in a moment\n", stderr);
        return 1;
    case SingleInstance::Handover::NoneRunning:
        break;
    }
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
        // Takes the keyboard where no window manager gives it (a bare X
        // server, a kiosk session).
        window.activateWindow();
        QObject::connect(&instance, &SingleInstance::urlsReceived, &window, [&window](const QStringList &received) {
            QList<QUrl> handed;
            for (const QString &text : received) {
                // The sender is another local process: its addresses get the
                // same check as our own command line.
                const QUrl url = CommandLine::urlFromArgument(text, QDir::rootPath());
                if (url.isValid())
                    handed.append(url);
            }
            if (handed.isEmpty() && received.isEmpty())
                window.onNewTab();
            window.openUrls(handed);
            // What another start asked for comes to the front, as in any browser.
            window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
            window.raise();
            window.activateWindow();
        });
        if (!command.urls.isEmpty())
            window.openUrls(command.urls);
        // Only now: a later start must find a window that answers at once.
        if (!instance.listen())
            std::fputs("orvexbrowser: cannot listen for later starts; each will open a window of its own\n", stderr);
        result = app.exec();
    }
    BrowserWindow::finishPendingPrints();
    return result;
}
