// The yardstick: what Qt WebEngine alone costs. One view per URL given on the
// command line, in a tab widget, and nothing else.
#include <QApplication>
#include <QTabWidget>
#include <QUrl>
#include <QWebEngineView>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTabWidget tabs;
    tabs.resize(1200, 800); // the browser's own first size, so both paint the same area
    const QStringList args = app.arguments().mid(1);
    for (const QString &arg : args) {
        auto *view = new QWebEngineView(&tabs);
        view->load(QUrl::fromUserInput(arg));
        tabs.addTab(view, arg);
    }
    tabs.show();
    return app.exec();
}
