#pragma once

#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

// Answers the modal boxes and prompts that a slot under test opens
// (QMessageBox::question, QInputDialog::getText, ...). Answers are queued in
// order; each one is applied to the next modal widget that shows up.
class ModalDriver : public QObject
{
    Q_OBJECT
public:
    struct Seen {
        QString kind;   // "input", "message" or the widget's class name
        QString title;
        QString label;  // input label or message text
        QString initialText;
        QLineEdit::EchoMode echo = QLineEdit::Normal;
    };

    explicit ModalDriver(QObject *parent = nullptr);

    void enqueueText(const QString &text); // type into an input dialog and accept
    void enqueueCancel();                  // reject the dialog
    void enqueueButton(QMessageBox::StandardButton button);

    bool allAnswered() const { return m_queue.isEmpty(); }
    QList<Seen> seen() const { return m_seen; }

private:
    struct Answer {
        enum Kind { Text, Cancel, Button } kind;
        QString text;
        QMessageBox::StandardButton button = QMessageBox::NoButton;
    };
    void poll();

    QList<Answer> m_queue;
    QList<Seen> m_seen;
    QPointer<QWidget> m_last;
    QTimer m_timer;
};
