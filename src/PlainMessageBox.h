#pragma once

#include <QMessageBox>

// Message boxes that show their text exactly as given. QMessageBox guesses
// rich text from the first line, so a user name, a page title or a server's
// error text holding markup would bring links, images or layout into our own
// dialog; these never interpret it.
class PlainMessageBox
{
public:
    static void information(QWidget *parent, const QString &title, const QString &text);
    static void warning(QWidget *parent, const QString &title, const QString &text);
    // Yes/No; the default button is No, so a stray Enter declines.
    static bool ask(QWidget *parent, const QString &title, const QString &text);
};
