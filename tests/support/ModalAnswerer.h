#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <functional>

// Answers the modal dialogs, message boxes and popup menus that code under test
// opens with exec(), from a timer.
//
// The static calls answer the next one such widget. An instance answers a queue
// of dialogs in order and records what each showed: an input dialog gets the
// answer as its text (a null answer cancels it), any other dialog gets the
// button with that caption clicked (rejected when there is none).
class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    // Polls every 20 ms for up to timeoutMs for a new modal or popup widget.
    static void answer(std::function<void(QWidget *)> callback, int timeoutMs = 20000);
    static void triggerMenuAction(const QString &text); // in a popup QMenu

    struct Seen {
        QString label; // an input dialog's label or a message box's text
        QString initialText;
        QLineEdit::EchoMode echo = QLineEdit::Normal;
    };

    explicit ModalAnswerer(const QStringList &answers = {});
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
