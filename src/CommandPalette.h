#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>

class MainWindow;
class QLineEdit;
class QListWidget;
class QListWidgetItem;

// Keyboard popup over the main window: type part of a command's title or
// description, move with Up/Down, run with Return. Created once by the main
// window and shown again on every use; each show rebuilds the command list so
// the tab entries match the open tabs.
class CommandPalette : public QDialog
{
    Q_OBJECT
public:
    struct CommandItem {
        QString name;
        QString description;
        QString icon;
        std::function<void()> action;
    };

    explicit CommandPalette(MainWindow *parent);

    void populateCommands();
    void filterCommands(const QString &query);

    // Case-insensitive substring search over the title, then the description.
    // An empty query matches everything.
    static bool matches(const QString &query, const QString &name, const QString &description);
    // The two-line text of a list row, with the command's key when it has one.
    static QString rowText(const CommandItem &item);
    // The main window's key for the command of that name, or "".
    static QString shortcutFor(const QString &name);
    // What "Protection on this site" would do for the window's current site.
    static QString protectionDescription(const MainWindow *window);

    const QList<CommandItem> &commandItems() const { return commands; }
    QLineEdit *searchField() const { return searchInput; }
    QListWidget *listWidget() const { return commandList; }

public Q_SLOTS:
    void onTextChanged(const QString &text);
    void onitemClicked(QListWidgetItem *item);
    void executeSelected();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void showStatus(const QString &message);

    MainWindow *mainWindow = nullptr;
    QLineEdit *searchInput = nullptr;
    QListWidget *commandList = nullptr;
    QList<CommandItem> commands;
};
