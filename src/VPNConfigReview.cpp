#include "VPNConfigReview.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QRegularExpression>

namespace {
QString sameFileKey(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// [[:space:]] of wg-quick's trimming.
QString trimSpace(QString text)
{
    auto isSpace = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f'; };
    while (!text.isEmpty() && isSpace(text.front()))
        text.remove(0, 1);
    while (!text.isEmpty() && isSpace(text.back()))
        text.chop(1);
    return text;
}

// Controls and direction overrides could make a command read as another.
QString shown(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QChar(QChar::ReplacementCharacter);
    }
    return out;
}

QStringList wireGuardHooks(const QString &text)
{
    static const QStringList hooks{QStringLiteral("preup"), QStringLiteral("postup"), QStringLiteral("predown"),
                                   QStringLiteral("postdown")};
    QStringList found;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString stripped = line.section(QLatin1Char('#'), 0, 0);
        const int equals = stripped.indexOf(QLatin1Char('='));
        const QString key = trimSpace(stripped.left(equals < 0 ? stripped.size() : equals));
        const QString value = trimSpace(equals < 0 ? stripped : stripped.mid(equals + 1));
        if (hooks.contains(key.toLower()))
            found.append(key + QStringLiteral(" = ") + value);
    }
    return found;
}

QStringList openVpnHooks(const QString &text)
{
    static const QStringList hooks{
        QStringLiteral("up"), QStringLiteral("down"), QStringLiteral("route-up"), QStringLiteral("route-pre-down"),
        QStringLiteral("ipchange"), QStringLiteral("client-connect"), QStringLiteral("client-disconnect"),
        QStringLiteral("learn-address"), QStringLiteral("tls-verify"), QStringLiteral("auth-user-pass-verify"),
        QStringLiteral("plugin"), QStringLiteral("iproute"), QStringLiteral("tls-crypt-v2-verify"),
        QStringLiteral("script-security")};
    QStringList found;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        QString directive = line.trimmed();
        if (directive.startsWith(QLatin1Char('#')) || directive.startsWith(QLatin1Char(';')))
            continue;
        if (directive.startsWith(QLatin1String("--")))
            directive.remove(0, 2);
        const QString name = directive.section(QRegularExpression(QStringLiteral("\\s")), 0, 0);
        if (hooks.contains(name.toLower()))
            found.append(directive);
    }
    return found;
}
}

bool VPNConfigReview::isDownloaded(const QString &path, const QJsonArray &downloadHistory)
{
    if (path.isEmpty())
        return false;
    const QString wanted = sameFileKey(path);
    for (const QJsonValue &value : downloadHistory) {
        const QString recorded = value.toObject().value(QLatin1String("path")).toString();
        if (!recorded.isEmpty() && sameFileKey(recorded) == wanted)
            return true;
    }
    return false;
}

QStringList VPNConfigReview::commandLines(const QString &configText, const QString &type)
{
    return type == QLatin1String("openvpn") ? openVpnHooks(configText) : wireGuardHooks(configText);
}

QString VPNConfigReview::downloadWarning(const QString &path, const std::optional<QString> &configText,
                                         const QString &type)
{
    QString text = QStringLiteral("\"%1\" was downloaded by this browser. Web pages can save files into the download "
                                  "folder without asking, and this file is run with administrator rights.\n\n")
                       .arg(shown(QFileInfo(path).fileName()));
    if (!configText) {
        text += QStringLiteral("It could not be read to show the commands it runs.");
    } else {
        const QStringList lines = commandLines(*configText, type);
        if (lines.isEmpty()) {
            text += QStringLiteral("It names no commands to run.");
        } else {
            text += QStringLiteral("It runs these commands as administrator:\n");
            for (int i = 0; i < lines.size() && i < maxShownLines; ++i) {
                const QString line = shown(lines.at(i));
                text += QStringLiteral("    ") + (line.size() > 200 ? line.left(199) + QChar(0x2026) : line) + u'\n';
            }
            if (lines.size() > maxShownLines)
                text += QStringLiteral("    ... and %1 more\n").arg(lines.size() - maxShownLines);
        }
    }
    return text + QStringLiteral("\n\nUse it only if you trust where it came from. Connect with it?");
}
