#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>

// Clicks the button whose caption, without mnemonic marks, is `text`.
static bool clickCaption(QWidget *w, const QString &text)
{
    const auto buttons = w->findChildren<QAbstractButton *>();
    for (QAbstractButton *b : buttons) {
        if (b->text().remove(QLatin1Char('&')) == text) {
            b->click();
            return true;
        }
    }
    return false;
}

void ModalAnswerer::answer(Callback callback, int timeoutMs)
{
    auto *timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, clock, callback, timeoutMs] {
        QWidget *w = QApplication::activePopupWidget();
        if (!w)
            w = QApplication::activeModalWidget();
        const bool found = w && w->isVisible();
        if (found || clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
        if (found)
            callback(w);
    });
    timer->start();
}

void ModalAnswerer::clickButton(const QString &text, int timeoutMs)
{
    answer([text](QWidget *w) {
        if (clickCaption(w, text))
            return;
        if (auto *dialog = qobject_cast<QDialog *>(w))
            dialog->reject();
        else
            w->close();
    }, timeoutMs);
}

void ModalAnswerer::acceptInput(const QString &text, int timeoutMs)
{
    answer([text](QWidget *w) {
        if (auto *input = qobject_cast<QInputDialog *>(w)) {
            input->setTextValue(text);
            input->accept();
        } else if (auto *dialog = qobject_cast<QDialog *>(w)) {
            dialog->reject();
        }
    }, timeoutMs);
}

void ModalAnswerer::acceptFile(const QString &path, int timeoutMs)
{
    answer([path](QWidget *w) {
        if (auto *dialog = qobject_cast<QFileDialog *>(w)) {
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        } else if (auto *other = qobject_cast<QDialog *>(w)) {
            other->reject();
        }
    }, timeoutMs);
}

void ModalAnswerer::triggerMenuAction(const QString &text, int timeoutMs)
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
            if (a->text() == text && a->isEnabled()) {
                a->trigger();
                return;
            }
        }
    }, timeoutMs);
}

ModalAnswerer::ModalAnswerer(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
}

void ModalAnswerer::enqueue(const QStringList &answers)
{
    m_queue.append(answers);
    if (!m_queue.isEmpty())
        m_timer.start();
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
        input->accept();
    } else if (input || !clickCaption(dialog, answer)) {
        dialog->reject();
    }
}
