#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>

void ModalAnswerer::answer(std::function<void(QWidget *)> callback, int timeoutMs)
{
    auto *timer = new QTimer(qApp);
    QElapsedTimer clock;
    clock.start();
    connect(timer, &QTimer::timeout, qApp, [timer, clock, callback, timeoutMs] {
        QWidget *w = QApplication::activePopupWidget();
        w = w ? w : QApplication::activeModalWidget();
        const bool found = w && w->isVisible();
        if (found || clock.elapsed() > timeoutMs) {
            timer->stop(); // before the callback: it may open a dialog with a loop of its own
            timer->deleteLater();
        }
        if (found)
            callback(w);
    });
    timer->start(20);
}

void ModalAnswerer::triggerMenuAction(const QString &text)
{
    answer([text](QWidget *w) {
        auto *menu = qobject_cast<QMenu *>(w);
        if (!menu) {
            w->close();
            return;
        }
        menu->hide();
        const auto actions = menu->actions();
        for (QAction *a : actions) {
            if (a->text() == text && a->isEnabled())
                return a->trigger();
        }
    });
}

ModalAnswerer::ModalAnswerer(const QStringList &answers)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    enqueue(answers);
}

void ModalAnswerer::enqueue(const QStringList &answers)
{
    m_queue.append(answers);
    if (!m_queue.isEmpty())
        m_timer.start(10);
}

void ModalAnswerer::poll()
{
    auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    if (m_queue.isEmpty() || !dialog || !dialog->isVisible() || dialog == m_last)
        return;
    m_last = dialog;
    const QString answer = m_queue.takeFirst();
    if (m_queue.isEmpty())
        m_timer.stop();
    auto *input = qobject_cast<QInputDialog *>(dialog);
    auto *box = qobject_cast<QMessageBox *>(dialog);
    m_seen.append({input ? input->labelText() : box ? box->text() : QString(),
                   input ? input->textValue() : QString(), input ? input->textEchoMode() : QLineEdit::Normal});
    if (input && !answer.isNull()) {
        input->setTextValue(answer);
        return input->accept();
    }
    // The button whose caption, without mnemonic marks, is the answer.
    const auto buttons = dialog->findChildren<QAbstractButton *>();
    for (QAbstractButton *b : buttons) {
        if (!input && b->text().remove(u'&') == answer)
            return b->click();
    }
    dialog->reject();
}
