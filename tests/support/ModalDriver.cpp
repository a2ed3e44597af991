#include "ModalDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QInputDialog>

ModalDriver::ModalDriver(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
}

void ModalDriver::enqueueText(const QString &text)
{
    m_queue.append({Answer::Text, text, QMessageBox::NoButton});
    m_timer.start();
}

void ModalDriver::enqueueCancel()
{
    m_queue.append({Answer::Cancel, QString(), QMessageBox::NoButton});
    m_timer.start();
}

void ModalDriver::enqueueButton(QMessageBox::StandardButton button)
{
    m_queue.append({Answer::Button, QString(), button});
    m_timer.start();
}

void ModalDriver::poll()
{
    if (m_queue.isEmpty()) {
        m_timer.stop();
        return;
    }
    QWidget *w = QApplication::activeModalWidget();
    if (!w || !w->isVisible() || w == m_last)
        return;
    auto *dialog = qobject_cast<QDialog *>(w);
    if (!dialog)
        return;
    m_last = w;
    const Answer answer = m_queue.takeFirst();

    Seen seen;
    seen.title = w->windowTitle();
    if (auto *input = qobject_cast<QInputDialog *>(w)) {
        seen.kind = QStringLiteral("input");
        seen.label = input->labelText();
        seen.initialText = input->textValue();
        seen.echo = input->textEchoMode();
        m_seen.append(seen);
        if (answer.kind == Answer::Text) {
            input->setTextValue(answer.text);
            input->accept();
        } else {
            input->reject();
        }
    } else if (auto *box = qobject_cast<QMessageBox *>(w)) {
        seen.kind = QStringLiteral("message");
        seen.label = box->text();
        m_seen.append(seen);
        if (answer.kind == Answer::Button && box->button(answer.button))
            box->button(answer.button)->click();
        else
            box->reject();
    } else {
        seen.kind = QString::fromLatin1(w->metaObject()->className());
        m_seen.append(seen);
        dialog->reject();
    }
    if (m_queue.isEmpty())
        m_timer.stop();
}
