#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>

void ModalAnswerer::answer(Callback callback, int timeoutMs)
{
    auto *timer = new QTimer(qApp);
    auto *clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, clock, callback, timeoutMs] {
        QWidget *w = QApplication::activePopupWidget();
        if (!w)
            w = QApplication::activeModalWidget();
        if (w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            callback(w);
            return;
        }
        if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            delete clock;
        }
    });
    timer->start();
}

void ModalAnswerer::clickButton(const QString &text, int timeoutMs)
{
    answer([text](QWidget *w) {
        const auto buttons = w->findChildren<QAbstractButton *>();
        for (QAbstractButton *b : buttons) {
            QString caption = b->text();
            caption.remove(QLatin1Char('&'));
            if (caption == text) {
                b->click();
                return;
            }
        }
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
        const auto actions = menu->actions();
        for (QAction *a : actions) {
            if (a->text() == text && a->isEnabled()) {
                menu->hide();
                a->trigger();
                return;
            }
        }
        menu->hide();
    }, timeoutMs);
}
