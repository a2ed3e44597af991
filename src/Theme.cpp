#include "Theme.h"

#include <QApplication>
#include <QWidget>

namespace {
struct Colours {
    const char *window;
    const char *text;
    const char *toolbar;
    const char *toolbarBorder;
    const char *button;
    const char *buttonHover;
    const char *buttonHoverText;
    const char *buttonPressed;
    const char *vpnBackground;
    const char *vpnBorder;
    const char *vpnText;
    const char *vpnHoverBackground;
    const char *accent;
    const char *field;
    const char *fieldBorder;
    const char *fieldText;
    const char *fieldFocus;
    const char *onAccent;
    const char *tabText;
    const char *tabBorder;
    const char *tabSelectedText;
    const char *tabHover;
    const char *tabHoverText;
    const char *menu;
    const char *menuBorder;
};

// The dark look is the browser's original one, unchanged.
constexpr Colours kDark{
    "#0f0f12", "#d0d0d0", "#18181b", "#2a2a30", "#a0a0b0", "rgba(255, 255, 255, 0.08)", "#fff",
    "rgba(255, 255, 255, 0.12)", "rgba(0, 229, 255, 0.1)", "rgba(0, 229, 255, 0.3)", "#00e5ff",
    "rgba(0, 229, 255, 0.2)", "#00e5ff", "#09090b", "#27272a", "#fff", "#000", "#000", "#80808a", "#1a1a1f",
    "#fff", "#1c1c22", "#bbb", "#18181b", "#2a2a30",
};
// Cyan on white is too faint: the light look takes a deeper teal as its accent.
constexpr Colours kLight{
    "#f4f4f5", "#27272a", "#ffffff", "#e4e4e7", "#52525b", "rgba(0, 0, 0, 0.06)", "#000",
    "rgba(0, 0, 0, 0.1)", "rgba(8, 145, 178, 0.08)", "rgba(8, 145, 178, 0.35)", "#0e7490",
    "rgba(8, 145, 178, 0.16)", "#0891b2", "#ffffff", "#d4d4d8", "#18181b", "#fff", "#fff", "#71717a", "#e4e4e7",
    "#18181b", "#e4e4e7", "#3f3f46", "#ffffff", "#d4d4d8",
};

QString sheet(const Colours &c)
{
    const auto s = [](const char *text) { return QString::fromLatin1(text); };
    return QStringLiteral("QMainWindow { background: ") + s(c.window) + QStringLiteral("; }")
        + QStringLiteral("QWidget { color: ") + s(c.text)
        + QStringLiteral("; font-family: 'Segoe UI', sans-serif; font-size: 13px; }")
        + QStringLiteral("#toolbarWidget { background: ") + s(c.toolbar) + QStringLiteral("; border-bottom: 1px solid ")
        + s(c.toolbarBorder) + QStringLiteral("; }")
        + QStringLiteral("QPushButton { background: transparent; border: none; border-radius: 6px; color: ")
        + s(c.button) + QStringLiteral("; }")
        + QStringLiteral("QPushButton:hover { background: ") + s(c.buttonHover) + QStringLiteral("; color: ")
        + s(c.buttonHoverText) + QStringLiteral("; }")
        + QStringLiteral("QPushButton:pressed { background: ") + s(c.buttonPressed) + QStringLiteral("; }")
        + QStringLiteral("QPushButton[text*=\"VPN\"] { background: ") + s(c.vpnBackground)
        + QStringLiteral("; border: 1px solid ") + s(c.vpnBorder) + QStringLiteral(";") + QStringLiteral(" color: ")
        + s(c.vpnText) + QStringLiteral("; padding: 0 16px; font-weight: 600; }")
        + QStringLiteral("QPushButton[text*=\"VPN\"]:hover { background: ") + s(c.vpnHoverBackground)
        + QStringLiteral("; border-color: ") + s(c.accent) + QStringLiteral("; }")
        + QStringLiteral("QLineEdit { background: ") + s(c.field) + QStringLiteral("; border: 1px solid ")
        + s(c.fieldBorder) + QStringLiteral("; border-radius: 8px; padding: 6px 14px;") + QStringLiteral(" color: ")
        + s(c.fieldText) + QStringLiteral("; selection-background-color: ") + s(c.accent)
        + QStringLiteral("; selection-color: ") + s(c.onAccent) + QStringLiteral("; }")
        + QStringLiteral("QLineEdit:focus { border: 1px solid ") + s(c.accent) + QStringLiteral("; background: ")
        + s(c.fieldFocus) + QStringLiteral("; }")
        + QStringLiteral("QTabWidget::pane { border: none; background: ") + s(c.window) + QStringLiteral("; }")
        + QStringLiteral("QTabBar::tab { background: transparent; color: ") + s(c.tabText)
        + QStringLiteral("; padding: 10px 24px; border: none;") + QStringLiteral(" border-right: 1px solid ")
        + s(c.tabBorder) + QStringLiteral("; }")
        + QStringLiteral("QTabBar::tab:selected { background: ") + s(c.window) + QStringLiteral("; color: ")
        + s(c.tabSelectedText) + QStringLiteral("; border-top: 2px solid ") + s(c.accent) + QStringLiteral("; }")
        + QStringLiteral("QTabBar::tab:hover:!selected { background: ") + s(c.tabHover) + QStringLiteral("; color: ")
        + s(c.tabHoverText) + QStringLiteral("; }")
        + QStringLiteral("QMenu { background-color: ") + s(c.menu) + QStringLiteral("; border: 1px solid ")
        + s(c.menuBorder) + QStringLiteral("; border-radius: 8px; padding: 4px; }")
        + QStringLiteral("QMenu::item { padding: 6px 24px; border-radius: 4px; color: ") + s(c.text)
        + QStringLiteral("; }")
        + QStringLiteral("QMenu::item:selected { background-color: ") + s(c.accent) + QStringLiteral("; color: ")
        + s(c.onAccent) + QStringLiteral("; }");
}

bool g_captured = false;
bool g_systemDark = false;
Theme::Kind g_active = Theme::Kind::Dark;
}

Theme::Kind Theme::fromSettings(const QJsonObject &settings)
{
    const QString theme = settings.value(QLatin1String("theme")).toString(QStringLiteral("dark"));
    if (theme == QLatin1String("dark"))
        return Kind::Dark;
    if (theme == QLatin1String("light"))
        return Kind::Light;
    return Kind::System;
}

QString Theme::settingsValue(Kind kind)
{
    switch (kind) {
    case Kind::Dark: return QStringLiteral("dark");
    case Kind::Light: return QStringLiteral("light");
    case Kind::System: break;
    }
    return QStringLiteral("system");
}

Theme::Kind Theme::resolved(Kind kind, bool systemIsDark)
{
    if (kind != Kind::System)
        return kind;
    return systemIsDark ? Kind::Dark : Kind::Light;
}

bool Theme::isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

void Theme::captureSystemPalette()
{
    if (g_captured || !qApp)
        return;
    g_captured = true;
    g_systemDark = isDark(QApplication::palette());
}

bool Theme::systemIsDark()
{
    captureSystemPalette();
    return g_systemDark;
}

QString Theme::styleSheet(Kind kind)
{
    return sheet(kind == Kind::Light ? kLight : kDark);
}

QPalette Theme::palette(Kind kind)
{
    QPalette p;
    if (kind == Kind::Light) {
        p.setColor(QPalette::Window, QColor(244, 244, 245));
        p.setColor(QPalette::WindowText, QColor(24, 24, 27));
        p.setColor(QPalette::Base, Qt::white);
        p.setColor(QPalette::AlternateBase, QColor(244, 244, 245));
        p.setColor(QPalette::Text, QColor(24, 24, 27));
        p.setColor(QPalette::PlaceholderText, QColor(113, 113, 122));
        p.setColor(QPalette::Button, QColor(228, 228, 231));
        p.setColor(QPalette::ButtonText, QColor(24, 24, 27));
        p.setColor(QPalette::BrightText, Qt::red);
        p.setColor(QPalette::Link, QColor(14, 116, 144));
        p.setColor(QPalette::Highlight, QColor(8, 145, 178));
        p.setColor(QPalette::HighlightedText, Qt::white);
        p.setColor(QPalette::ToolTipBase, Qt::white);
        p.setColor(QPalette::ToolTipText, QColor(24, 24, 27));
        return p;
    }
    p.setColor(QPalette::Window, QColor(30, 30, 30));
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, QColor(45, 45, 45));
    p.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
    p.setColor(QPalette::Text, Qt::white);
    p.setColor(QPalette::Button, QColor(45, 45, 45));
    p.setColor(QPalette::ButtonText, Qt::white);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, QColor(0, 120, 212));
    p.setColor(QPalette::Highlight, QColor(0, 120, 212));
    p.setColor(QPalette::HighlightedText, Qt::black);
    // White on white would hide every tooltip: light text on a dark base.
    p.setColor(QPalette::ToolTipBase, QColor(24, 24, 27));
    p.setColor(QPalette::ToolTipText, Qt::white);
    return p;
}

Theme::Kind Theme::apply(QWidget *window, const QJsonObject &settings)
{
    const Kind kind = resolved(fromSettings(settings), systemIsDark());
    g_active = kind;
    QApplication::setPalette(palette(kind));
    if (window)
        window->setStyleSheet(styleSheet(kind));
    return kind;
}

Theme::Kind Theme::active()
{
    return g_active;
}

QString Theme::recordTableStyleSheet()
{
    if (g_active == Kind::Light)
        return QStringLiteral("QTableWidget { background: #ffffff; color: #18181b; gridline-color: #e4e4e7; }"
                              "QTableWidget::item { padding: 8px; }"
                              "QHeaderView::section { background: #f4f4f5; color: #18181b; padding: 8px; }");
    return QStringLiteral("QTableWidget { background: #1e1e1e; color: white; gridline-color: #404040; }"
                          "QTableWidget::item { padding: 8px; }"
                          "QHeaderView::section { background: #2d2d2d; color: white; padding: 8px; }");
}

QString Theme::dialogStyleSheet()
{
    // The window's sheet makes every button a bare toolbar icon; in a dialog
    // a button must look like one.
    if (g_active == Kind::Light)
        return QStringLiteral("QPushButton { background: #ffffff; color: #18181b; border: 1px solid #d4d4d8;"
                              " padding: 5px 14px; min-width: 56px; }"
                              "QPushButton:hover, QPushButton:default { border-color: #0891b2; }"
                              "QPushButton:disabled { color: #a1a1aa; }");
    return QStringLiteral("QPushButton { background: #2d2d2d; color: #e0e0e0; border: 1px solid #3d3d3d;"
                          " padding: 5px 14px; min-width: 56px; }"
                          "QPushButton:hover, QPushButton:default { border-color: #00e5ff; }"
                          "QPushButton:disabled { color: #777; }");
}

QString Theme::treeStyleSheet()
{
    if (g_active == Kind::Light)
        return QStringLiteral("QTreeWidget { background: #ffffff; color: #18181b; }"
                              "QTreeWidget::item { padding: 4px; }"
                              "QTreeWidget::item:selected { background: #0891b2; color: white; }"
                              "QHeaderView::section { background: #f4f4f5; color: #18181b; padding: 8px; }");
    return QStringLiteral("QTreeWidget { background: #1e1e1e; color: white; }"
                          "QTreeWidget::item { padding: 4px; }"
                          "QTreeWidget::item:selected { background: #0078d4; }"
                          "QHeaderView::section { background: #2d2d2d; color: white; padding: 8px; }");
}

QString Theme::filterFieldStyleSheet()
{
    if (g_active == Kind::Light)
        return QStringLiteral("padding: 6px 12px; background: #ffffff; border: 1px solid #d4d4d8; border-radius: 4px;");
    return QStringLiteral("padding: 6px 12px; background: #3d3d3d; border: 1px solid #404040; border-radius: 4px;");
}
