// Test helper for tst_storekill: rewrites one store through the browser's own
// calls as fast as it can, until killed. Arguments: configuration folder,
// store, first generation, records per version, and "once" to end after the
// timed writes. Every record of generation g holds "@g" once (inside the
// password for logins), so a complete version is a run of generations.
// Before "ready <µs per write>" it times two writes, so the test can aim its
// kills inside a write whatever the build's speed.
#include "DataManager.h"
#include "DownloadManager.h"
#include "SearchManager.h"
#include "StoreFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <functional>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString config = args.value(1), store = args.value(2);
    qint64 generation = args.value(3).toLongLong();
    const int records = qMax(1, args.value(4).toInt());
    const bool logins = store == QLatin1String("passwords");
    // Large files widen the window in which a kill lands inside a write.
    const auto mark = [](qint64 g, int pad = 300) { return QStringLiteral("@%1 ").arg(g) + QString(pad, QLatin1Char('~')); };
    const auto slot = [&](qint64 g) { return QStringLiteral("https://slot.test/%1").arg(g % records); };
    const auto record = [&](qint64 g) {
        return logins ? QJsonObject{{"url", slot(g)}, {"username", "u"}, {"password", DataManager::encryptPasswordStatic(mark(g))}}
                      : QJsonObject{{"url", slot(g)}, {"title", mark(g)}};
    };
    // A list store starts full: generations 0 .. records-1, newest first (logins oldest first).
    const QString path = config + QStringLiteral("/orvexbrowser/") + store + QStringLiteral(".json");
    if (records > 1 && !QFile::exists(path)) {
        QJsonArray seed;
        for (qint64 g = 0; g < records; ++g)
            logins ? seed.append(record(g)) : seed.prepend(record(g));
        StoreFile::writeJson(path, QJsonDocument(seed), logins ? StoreFile::Access::Secret : StoreFile::Access::Normal);
    }

    DataManager data(config);
    SearchManager search(config);
    DownloadManager downloads(nullptr, config + QStringLiteral("/orvexbrowser"));
    QJsonArray ended = downloads.getDownloadHistory();
    const QHash<QString, std::function<void(qint64)>> steps{
        {"history", [&](qint64 g) { data.addHistory(slot(g), mark(g)); }},
        {"bookmarks", [&](qint64 g) { data.addBookmark(slot(g), mark(g)); }},
        {"passwords", [&](qint64 g) { data.addPassword(slot(g), "u", mark(g)); }},
        // How the manager records an ended download, without a web engine download.
        {"downloads", [&](qint64 g) {
             ended = DownloadManager::prependCapped(ended, record(g));
             StoreFile::writeJson(downloads.getHistoryPath(), QJsonDocument(ended));
         }},
        {"settings", [&](qint64 g) { data.setSettings({{"theme", mark(g, 60000)}}); }},
        {"session", [&](qint64 g) { data.setSession({QJsonObject{{"url", slot(g)}, {"title", mark(g, 60000)}}}); }},
        {"search_engines", [&](qint64 g) { search.setDefaultEngine(mark(g, 60000)); }},
    };
    const std::function<void(qint64)> step = steps.value(store);
    if (!step)
        return 2;

    QElapsedTimer timer;
    timer.start();
    step(generation++);
    step(generation++);
    std::printf("ready %lld\n", static_cast<long long>(timer.nsecsElapsed() / 2000));
    std::fflush(stdout);
    while (args.value(5) != QLatin1String("once"))
        step(generation++);
}
