#include "DevTools.h"

#include <QWebEnginePage>
#include <QWebEngineView>

DevTools::DevTools(QWebEngineView *inspected, QWidget *parent)
    : QDockWidget(parent)
    , browser(inspected)
{
    setWindowTitle(QStringLiteral("Developer Tools"));
    devToolsView = new QWebEngineView(this);
    setAllowedAreas(Qt::BottomDockWidgetArea | Qt::RightDockWidgetArea);
    setWidget(devToolsView);
    resize(800, 300);
    setupInspector();
}

void DevTools::setupInspector()
{
    if (!browser || !browser->page())
        return;
    browser->page()->setDevToolsPage(devToolsView->page());
    devToolsView->page()->triggerAction(QWebEnginePage::InspectElement);
}

void DevTools::showConsole()
{
    show();
    raise();
}

void DevTools::showNetwork()
{
    show();
    raise();
}

void DevTools::showElements()
{
    show();
    raise();
}
