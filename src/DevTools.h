#pragma once

#include <QDockWidget>
#include <QPointer>

class QWebEngineView;

// Dock panel hosting the web engine's developer tools for one page, attached
// once at construction to the page of the inspected view.
class DevTools : public QDockWidget
{
    Q_OBJECT
public:
    // `inspected` is not owned and may be null (the panel then stays empty).
    explicit DevTools(QWebEngineView *inspected, QWidget *parent = nullptr);

    void setupInspector();

    // All three show and raise the panel; none picks a tool inside it.
    void showConsole();
    void showNetwork();
    void showElements();

    QWebEngineView *devView() const { return devToolsView; }
    QWebEngineView *inspectedView() const { return browser; }

private:
    QPointer<QWebEngineView> browser;
    QWebEngineView *devToolsView = nullptr;
};
