#pragma once

#include <QLineEdit>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>

// Answers the modal dialogs, message boxes and popup menus that code under test
// opens with exec(), from a timer.
//
// The static calls answer the next one such widget. An instance answers a queue
// of them in order and records what each showed: an input dialog gets the
// answer as its text (a null answer cancels it), any other dialog gets the
// button with that caption clicked (rejected when there is none).
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

    struct Seen {
        QString label; // an input dialog's label or a message box's text
        QString initialText;
        QLineEdit::EchoMode echo = QLineEdit::Normal;
    };

    explicit ModalAnswerer(QObject *parent = nullptr);
    void enqueue(const QStringList &answers);
    bool allAnswered() const { return m_queue.isEmpty(); }
    QList<Seen> seen() const { return m_seen; }

private:
    void poll();

    QStringList m_queue;
    QList<Seen> m_seen;
    QPointer<QWidget> m_last;
    QTimer m_timer;
};
