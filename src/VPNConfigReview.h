#pragma once

#include <QJsonArray>
#include <QString>
#include <QStringList>

#include <optional>

// What the VPN dialog checks before it hands a configuration file to a tool
// that runs as root: whether the browser itself downloaded the file (pages
// can put files into the download folder without asking), and which commands
// the file would have run.
class VPNConfigReview
{
public:
    // True when path, or the file it leads to, is the path of a record in
    // the download history ("path" of DownloadManager's records).
    static bool isDownloaded(const QString &path, const QJsonArray &downloadHistory);

    // The lines that make the tool run commands, as "Key = value" for
    // WireGuard (PreUp, PostUp, PreDown, PostDown, read the way wg-quick
    // reads them: any letter case, "#" starts a comment, a line without "="
    // is its own value) and as the directive line for OpenVPN (up, down,
    // route-up, plugin and the other script hooks). Every section counts.
    static QStringList commandLines(const QString &configText, const QString &type);

    // The question asked before a downloaded configuration is used; no
    // configText means the file could not be read. At most maxShownLines
    // command lines are listed.
    static QString downloadWarning(const QString &path, const std::optional<QString> &configText, const QString &type);
    static constexpr int maxShownLines = 20;
};
