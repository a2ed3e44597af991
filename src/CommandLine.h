#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// What the browser was started with: `orvexbrowser [URL|FILE ...]`,
// `--help`, `--version`. Options it does not know (Qt's and Chromium's own,
// such as --disable-gpu) are left to them.
class CommandLine
{
public:
    struct Parsed {
        bool help = false;
        bool version = false;
        QList<QUrl> urls;
        QStringList errors; // one line per refused argument
    };

    // `arguments` without the program name; relative file paths are taken
    // from `workingDirectory`.
    static Parsed parse(const QStringList &arguments, const QString &workingDirectory);
    // An address or a local file as a URL to open, or an invalid URL when
    // the argument names nothing a tab may open (javascript:, data:, ...).
    static QUrl urlFromArgument(const QString &argument, const QString &workingDirectory);
    static QString usage();
};
