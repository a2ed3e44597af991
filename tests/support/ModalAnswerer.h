#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

// Answers the next modal dialog, message box or popup menu from a timer, so
// tests can drive exec()-style UI. The callback receives the widget once it is
// shown and must close it (accept/reject/click/hide).
class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    using Callback = std::function<void(QWidget *)>;

    // Polls every 20 ms for up to timeoutMs for a new modal or popup widget.
    static void answer(Callback callback, int timeoutMs = 20000);

    // Common answers.
    static void clickButton(const QString &text, int timeoutMs = 20000); // in a QMessageBox/QDialog
    static void acceptInput(const QString &text, int timeoutMs = 20000); // a QInputDialog
    static void acceptFile(const QString &path, int timeoutMs = 20000);  // a QFileDialog
    static void triggerMenuAction(const QString &text, int timeoutMs = 20000); // a popup QMenu
};
