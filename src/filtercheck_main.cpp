// orvex-filtercheck: decides "URL<TAB>PAGE_URL<TAB>TYPE" lines from standard
// input with the browser's filter engine, one answer line per input line.
#include "FilterCheck.h"
#include "FilterEngineLoader.h"
#include "FilterListManager.h"
#include "RequestInterceptor.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {
void usage(FILE *to)
{
    std::fputs("Usage: orvex-filtercheck [--list FILE]... [--no-builtin]\n"
               "Reads URL<TAB>PAGE_URL<TAB>TYPE lines on standard input and writes one line\n"
               "each: block<TAB>rule, allow, or allow<TAB>exception (error<TAB>why for a line\n"
               "it can't read). TYPE: main_frame, sub_frame, stylesheet, script, image, font,\n"
               "object, xmlhttprequest, ping, media, websocket, other.\n"
               "  --list FILE    a filter list (repeatable; default: the shipped EasyList and\n"
               "                 EasyPrivacy snapshot)\n"
               "  --no-builtin   the lists only, without the browser's built-in host lists\n",
               to);
}
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList lists;
    bool builtin = true;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--list") && i + 1 < args.size()) {
            lists.append(args[++i]);
        } else if (a.startsWith(QLatin1String("--list="))) {
            lists.append(a.mid(7));
        } else if (a == QLatin1String("--no-builtin")) {
            builtin = false;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "orvex-filtercheck: unknown argument %s\n", qPrintable(a));
            usage(stderr);
            return 2;
        }
    }
    if (lists.isEmpty()) {
        const QStringList folders = FilterListManager::snapshotFolders();
        if (folders.isEmpty()) {
            std::fputs("orvex-filtercheck: no shipped filter lists found; give --list FILE\n", stderr);
            return 2;
        }
        for (const char *name : {"easylist.txt", "easyprivacy.txt"}) {
            const QString path = folders.first() + QLatin1Char('/') + QLatin1String(name);
            if (QFileInfo::exists(path))
                lists.append(path);
        }
    }
    QList<FilterEngineLoader::Input> inputs;
    for (const QString &path : std::as_const(lists)) {
        if (!QFileInfo(path).isReadable()) {
            std::fprintf(stderr, "orvex-filtercheck: cannot read %s\n", qPrintable(path));
            return 2;
        }
        inputs.append({QFileInfo(path).fileName(), path, {}});
    }
    const auto engine = FilterEngineLoader::loadOrBuild(inputs, QString());

    FilterCheck::BuiltinCheck check;
    if (builtin) {
        // The browser's interceptor with its default switches decides; the
        // entry named is found with its own suffix test.
        auto interceptor = std::make_shared<RequestInterceptor>();
        check = [interceptor](const QUrl &url) -> QString {
            const RequestInterceptor::Verdict verdict = interceptor->decide(url);
            if (verdict == RequestInterceptor::Verdict::Pass)
                return {};
            const bool ad = verdict == RequestInterceptor::Verdict::BlockAd;
            const QStringList &entries = ad ? interceptor->adDomainList() : interceptor->trackerDomainList();
            const QString host = url.host(QUrl::FullyDecoded);
            for (const QString &entry : entries) {
                if (RequestInterceptor::hostEndsWithAny(host, QStringList{entry}))
                    return QStringLiteral("built-in %1 list: %2").arg(ad ? QLatin1String("ad") : QLatin1String("tracker"), entry);
            }
            return QStringLiteral("built-in ad list: ad path");
        };
    }
    FilterCheck checker(engine, check);
    checker.run(stdin, stdout);
    return 0;
}
