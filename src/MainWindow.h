#pragma once

#include <QMainWindow>
#include <QPalette>

// Placeholder: the real window is being built.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    static QPalette darkPalette();
};
