#include "WebSettingsApplier.h"

#include "StoreFile.h"

#include <QFileInfo>
#include <QList>
#include <QWebEngineSettings>

namespace {
bool boolOr(const QJsonObject &settings, QLatin1String key, bool fallback)
{
    const QJsonValue value = settings.value(key);
    return value.isBool() ? value.toBool() : fallback;
}
}

int WebSettingsApplier::fontPixels(const QString &fontSize)
{
    if (fontSize == QLatin1String("small"))
        return 12;
    if (fontSize == QLatin1String("large"))
        return 20;
    return 16;
}

WebSettingsApplier::Values WebSettingsApplier::fromSettings(const QJsonObject &settings)
{
    Values values;
    values.javaScript = boolOr(settings, QLatin1String("enableJavaScript"), true);
    values.plugins = boolOr(settings, QLatin1String("enablePlugins"), true);
    values.hardwareAcceleration = boolOr(settings, QLatin1String("hardwareAcceleration"), true);
    values.defaultFontSize = fontPixels(settings.value(QLatin1String("fontSize")).toString());
    return values;
}

void WebSettingsApplier::apply(QWebEngineSettings *target, const QJsonObject &settings)
{
    if (!target)
        return;
    const Values values = fromSettings(settings);
    auto set = [target](QWebEngineSettings::WebAttribute attribute, bool on) {
        if (target->testAttribute(attribute) != on)
            target->setAttribute(attribute, on);
    };
    set(QWebEngineSettings::JavascriptEnabled, values.javaScript);
    // The PDF viewer is a plugin of the engine: it needs both.
    set(QWebEngineSettings::PluginsEnabled, values.plugins);
    set(QWebEngineSettings::PdfViewerEnabled, values.plugins);
    if (target->fontSize(QWebEngineSettings::DefaultFontSize) != values.defaultFontSize)
        target->setFontSize(QWebEngineSettings::DefaultFontSize, values.defaultFontSize);
}

namespace {
// The engine splits the variable at blanks, so flags are words here too.
QList<QByteArray> words(const QByteArray &flags)
{
    QList<QByteArray> list = flags.simplified().split(' ');
    list.removeAll(QByteArray());
    return list;
}
}

QByteArray WebSettingsApplier::startupFlags(const QByteArray &current, const QJsonObject &settings)
{
    QList<QByteArray> flags = words(current);
    if (!fromSettings(settings).hardwareAcceleration) {
        for (const QByteArray &flag : {QByteArray("--disable-gpu"), QByteArray("--disable-gpu-compositing")}) {
            if (!flags.contains(flag))
                flags.append(flag);
        }
    }
    return flags.join(' ');
}

QByteArray WebSettingsApplier::colorSchemeFlags(const QByteArray &current, ColorScheme scheme)
{
    QList<QByteArray> flags = words(current);
    const QByteArray preferred = QByteArray("preferredColorScheme=") + (scheme == ColorScheme::Dark ? "0" : "1");
    // Blink reads one --blink-settings list (the last one given).
    bool merged = false;
    for (QByteArray &flag : flags) {
        if (!flag.startsWith("--blink-settings="))
            continue;
        if (!flag.contains("preferredColorScheme="))
            flag += (flag.endsWith('=') ? "" : ",") + preferred;
        merged = true;
    }
    if (!merged)
        flags.append("--blink-settings=" + preferred);
    return flags.join(' ');
}

QJsonObject WebSettingsApplier::storedSettings(const QString &settingsPath)
{
    // Only a settings file that loads counts; the store itself reports damage later.
    if (!QFileInfo(settingsPath).isFile())
        return QJsonObject();
    StoreFile::LoadResult result{};
    const QJsonDocument doc = StoreFile::readJson(settingsPath, StoreFile::JsonType::Object, &result);
    return result == StoreFile::LoadResult::Loaded ? doc.object() : QJsonObject();
}
