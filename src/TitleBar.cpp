#include "TitleBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>

// The resources live in a static library: registering them here pulls them
// into every binary that uses the bar.
static void ensureResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(orvexbrowser);
        return true;
    }();
    Q_UNUSED(done);
}

TitleBar::TitleBar(QWidget *parent, const QString &iconPath)
    : QWidget(parent)
{
    ensureResources();
    setFixedHeight(40);
    // Background and bottom border belong to the bar alone: as a plain QWidget
    // rule they would also draw a line under each label. The icon label gets no
    // margin of its own (10 px inside its fixed 24-px width would cut the
    // icon); the layout spacing stands in for it.
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral(
        "TitleBar { background-color: #0f0f12; border-bottom: 1px solid #333; }"
        "QLabel { color: #888; font-family: 'Segoe UI', sans-serif; font-size: 12px; margin-left: 10px; }"
        "QLabel#titleIcon { margin-left: 0px; }"
        "QPushButton { background-color: transparent; border: none; color: #888;"
        " width: 40px; height: 40px; font-size: 16px; }"
        "QPushButton:hover { background-color: #222; color: white; }"
        "#closeBtn:hover { background-color: #e81123; color: white; }"));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("titleIcon"));
    iconLabel->setFixedSize(24, 24);
    const QPixmap icon(iconPath);
    if (!icon.isNull())
        iconLabel->setPixmap(icon.scaled(24, 24, Qt::KeepAspectRatio, Qt::SmoothTransformation));

    titleLabel = new QLabel(QStringLiteral("ORVEX BROWSER"), this);
    minimizeButton = new QPushButton(QStringLiteral("\u2014"), this);
    maximizeButton = new QPushButton(QStringLiteral("\u25A2"), this);
    closeButton = new QPushButton(QStringLiteral("\u2715"), this);
    closeButton->setObjectName(QStringLiteral("closeBtn"));

    layout->addSpacing(10);
    layout->addWidget(iconLabel);
    layout->addWidget(titleLabel);
    layout->addStretch();
    layout->addWidget(minimizeButton);
    layout->addWidget(maximizeButton);
    layout->addWidget(closeButton);

    connect(minimizeButton, &QPushButton::clicked, this, [this] { window()->showMinimized(); });
    connect(maximizeButton, &QPushButton::clicked, this, [this] {
        QWidget *w = window();
        if (w->isMaximized())
            w->showNormal();
        else
            w->showMaximized();
    });
    connect(closeButton, &QPushButton::clicked, this, [this] { window()->close(); });
}

void TitleBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    dragPosition = event->globalPosition().toPoint() - window()->frameGeometry().topLeft();
    event->accept();
}

void TitleBar::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    // A maximised or full-screen window keeps its place; moving it would leave
    // it flagged maximised but off its screen area.
    QWidget *w = window();
    if (!(w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        w->move(event->globalPosition().toPoint() - dragPosition);
    event->accept();
}

void TitleBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    Q_UNUSED(event);
    maximizeButton->click();
}
