#pragma once

#include <QJsonObject>
#include <QPalette>
#include <QString>

class QWidget;

// The browser's colours: the main window's style sheet, the application
// palette, and the few per-widget sheets of dialogs, for a dark and a light
// look. "System" follows the desktop: the palette the platform gave the
// application before we replaced it, judged dark or light by its window colour.
class Theme
{
public:
    enum class Kind { Dark, Light, System };

    // The "theme" setting: "dark" (also when missing), "light", anything else System.
    static Kind fromSettings(const QJsonObject &settings);
    static QString settingsValue(Kind kind);

    // Dark or Light: what System stands for on a desktop that is dark or not.
    static Kind resolved(Kind kind, bool systemIsDark);
    static bool isDark(const QPalette &palette);

    // Remembers the platform's own palette; call before anything replaces
    // the application palette (the first call wins).
    static void captureSystemPalette();
    static bool systemIsDark();

    // Of a resolved kind (System counts as Dark).
    static QString styleSheet(Kind kind);
    static QPalette palette(Kind kind);

    // Sets the style sheet on the window and the application palette for the
    // stored theme, and remembers the resolved kind for the dialogs' sheets.
    static Kind apply(QWidget *window, const QJsonObject &settings);
    static Kind active(); // Dark until apply() says otherwise

    // Per-widget sheets of the dialogs, in the active theme.
    static QString recordTableStyleSheet();
    // Buttons that look like buttons, for a dialog of the window.
    static QString dialogStyleSheet();
    static QString treeStyleSheet();
    static QString filterFieldStyleSheet();
};
