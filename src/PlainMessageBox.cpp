#include "PlainMessageBox.h"

namespace {
QMessageBox::StandardButton run(QMessageBox::Icon icon, QWidget *parent, const QString &title, const QString &text,
                                QMessageBox::StandardButtons buttons, QMessageBox::StandardButton byDefault)
{
    QMessageBox box(icon, title, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(byDefault);
    return QMessageBox::StandardButton(box.exec());
}
}

void PlainMessageBox::information(QWidget *parent, const QString &title, const QString &text)
{
    run(QMessageBox::Information, parent, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

void PlainMessageBox::warning(QWidget *parent, const QString &title, const QString &text)
{
    run(QMessageBox::Warning, parent, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool PlainMessageBox::ask(QWidget *parent, const QString &title, const QString &text)
{
    return run(QMessageBox::Question, parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}
