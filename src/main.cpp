#include "BrowserWindow.h"
#include "MainWindow.h"

#include <QApplication>
#include <QIcon>
#include <QPalette>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    // Qt WebEngine shares OpenGL contexts with the widgets; must be set before the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("OrvexBrowser"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0.0"));
    QCoreApplication::setOrganizationName(QStringLiteral("OrvexVPN"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(MainWindow::darkPalette());
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
