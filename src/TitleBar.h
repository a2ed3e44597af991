#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

// Self-drawn title bar for a frameless top-level window: icon and caption on
// the left, minimise / maximise-restore / close on the right; dragging the bar
// moves the containing window.
class TitleBar : public QWidget
{
    Q_OBJECT
public:
    explicit TitleBar(QWidget *parent = nullptr,
                      const QString &iconPath = QStringLiteral(":/icons/orvex_icon.png"));

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QLabel *iconLabel = nullptr;
    QLabel *titleLabel = nullptr;
    QPushButton *minimizeButton = nullptr;
    QPushButton *maximizeButton = nullptr;
    QPushButton *closeButton = nullptr;
    QPoint dragPosition;
};
