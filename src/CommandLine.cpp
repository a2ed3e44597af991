#include "CommandLine.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>

CommandLine::Parsed CommandLine::parse(const QStringList &arguments, const QString &workingDirectory)
{
    Parsed parsed;
    bool optionsEnded = false;
    for (const QString &argument : arguments) {
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && argument.startsWith(QLatin1Char('-'))) {
            if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
                parsed.help = true;
            else if (argument == QLatin1String("--version") || argument == QLatin1String("-v"))
                parsed.version = true;
            continue;
        }
        const QUrl url = urlFromArgument(argument, workingDirectory);
        if (url.isValid())
            parsed.urls.append(url);
        else
            parsed.errors.append(QStringLiteral("orvexbrowser: cannot open \"%1\"").arg(argument.left(200)));
    }
    return parsed;
}

QUrl CommandLine::urlFromArgument(const QString &argument, const QString &workingDirectory)
{
    const QString text = argument.trimmed();
    if (text.isEmpty() || text.size() > 32 * 1024)
        return QUrl();
    // "host:8080" is a host and a port, not a scheme.
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):(?![0-9])"));
    const QRegularExpressionMatch m = scheme.match(text);
    // "C:" style names do not exist here; a scheme is a scheme.
    if (m.hasMatch() && !QFileInfo::exists(QDir(workingDirectory).absoluteFilePath(text))) {
        const QString name = m.captured(1).toLower();
        if (name != QLatin1String("http") && name != QLatin1String("https") && name != QLatin1String("file"))
            return QUrl();
        QUrl url(text, QUrl::StrictMode);
        if (!url.isValid())
            url = QUrl(text, QUrl::TolerantMode);
        if (!url.isValid() || (name != QLatin1String("file") && url.host().isEmpty()))
            return QUrl();
        url.setScheme(name);
        return url;
    }
    const QFileInfo file(QDir(workingDirectory), text);
    if (file.exists() || text.startsWith(QLatin1Char('/')) || text.startsWith(QLatin1String("./"))
        || text.startsWith(QLatin1String("../")))
        return QUrl::fromLocalFile(file.absoluteFilePath());
    // A bare host, as the address bar would take it; local ones over http.
    static const QRegularExpression host(
        QStringLiteral("^(localhost|[A-Za-z0-9-]+(?:\\.[A-Za-z0-9-]+)+)(:[0-9]{1,5})?([/?#].*)?$"));
    const QRegularExpressionMatch h = host.match(text);
    if (!h.hasMatch())
        return QUrl();
    const QString name = h.captured(1);
    const bool local = name == QLatin1String("localhost") || !QHostAddress(name).isNull();
    const QUrl url(QString::fromLatin1(local ? "http://" : "https://") + text, QUrl::TolerantMode);
    return url.isValid() ? url : QUrl();
}

QString CommandLine::usage()
{
    return QStringLiteral(
        "Usage: orvexbrowser [URL|FILE ...]\n"
        "\n"
        "Opens each URL or local file in a new tab. When OrvexBrowser is already\n"
        "running for this user and data folder, the addresses open in that window.\n"
        "While no VPN tunnel is up, web addresses wait behind the VPN warning page.\n"
        "\n"
        "Options:\n"
        "  -h, --help     Show this help and exit.\n"
        "  -v, --version  Show the version and exit.\n");
}
