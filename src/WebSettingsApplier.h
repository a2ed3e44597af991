#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class QWebEngineSettings;

// Turns the stored settings into what the web engine does: JavaScript, the
// built-in PDF viewer and the default font size of pages (applied at once,
// to a profile's settings so every page of it follows), and the start-up
// switches of the engine (hardware acceleration, the pages' preferred colour
// scheme), which the engine reads once per process.
//
// Keys of settings.json and their defaults when missing:
//   "enableJavaScript" true, "enablePlugins" true, "hardwareAcceleration" true,
//   "fontSize" "medium" ("small", "medium", "large").
class WebSettingsApplier
{
public:
    struct Values {
        bool javaScript = true;
        bool plugins = true; // PDF viewer
        int defaultFontSize = 16; // CSS pixels
        bool hardwareAcceleration = true;
    };

    static Values fromSettings(const QJsonObject &settings);
    // "small" 12, "medium" 16 (the engine's own default), "large" 20: the
    // sizes other browsers offer under these names. Anything else is medium.
    static int fontPixels(const QString &fontSize);

    // Changes only what differs, so applying the same settings again does not
    // make every open page recompute its style.
    static void apply(QWebEngineSettings *target, const QJsonObject &settings);

    // QTWEBENGINE_CHROMIUM_FLAGS for this start, in two steps: the flags
    // already there are kept, ours added unless present.
    // Before QApplication: hardware acceleration off adds --disable-gpu and
    // --disable-gpu-compositing.
    static QByteArray startupFlags(const QByteArray &current, const QJsonObject &settings);
    // Once the desktop's palette is known, before the first page: the pages'
    // prefers-color-scheme, joined to a --blink-settings list the user gave
    // unless that list already chooses a scheme.
    enum class ColorScheme { Dark, Light };
    static QByteArray colorSchemeFlags(const QByteArray &current, ColorScheme scheme);

    // The settings as stored, read before anything else of the browser exists.
    static QJsonObject storedSettings(const QString &settingsPath);
};
