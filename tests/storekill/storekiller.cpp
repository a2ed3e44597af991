// Test helper for tst_storekill: rewrites one store as fast as it can until
// killed. Arguments: configuration folder, store name, first generation.
// Every version it writes is recognisable as one complete generation (see
// tst_storekill.cpp). Before "ready <µs per write>" it times two writes, so
// the test can aim its kills inside a write whatever the build's speed.
#include "DataManager.h"
#include "DownloadManager.h"
#include "SearchManager.h"
#include "StoreFile.h"
#include "StoreKillShapes.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <functional>
#include <memory>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    const QString config = args.at(1);
    const QString store = args.at(2);
    qint64 generation = args.at(3).toLongLong();

    std::unique_ptr<DataManager> data;
    std::unique_ptr<SearchManager> search;
    std::unique_ptr<DownloadManager> downloads;
    QJsonArray history;
    std::function<void(qint64)> step;
    if (store == QLatin1String("downloads")) {
        // The manager records an end by capping and rewriting through the
        // shared writer; this does the same without a web engine download.
        downloads = std::make_unique<DownloadManager>(nullptr, config + QStringLiteral("/orvexbrowser"));
        history = downloads->getDownloadHistory();
        step = [&](qint64 g) {
            history = DownloadManager::prependCapped(history, StoreKillShapes::download(g));
            StoreFile::writeJson(downloads->getHistoryPath(), QJsonDocument(history));
        };
    } else if (store == QLatin1String("search_engines")) {
        search = std::make_unique<SearchManager>(config);
        step = [&](qint64 g) { search->setDefaultEngine(StoreKillShapes::defaultKeyword(g)); };
    } else {
        data = std::make_unique<DataManager>(config);
        if (store == QLatin1String("bookmarks")) {
            // A kill between a step's add and remove left one bookmark too many.
            while (data->getBookmarks().size() > StoreKillShapes::Records)
                data->removeBookmark(data->getBookmarks().last()[QLatin1String("url")].toString());
            step = [&](qint64 g) {
                data->addBookmark(StoreKillShapes::url(g), StoreKillShapes::title(g));
                data->removeBookmark(StoreKillShapes::url(g - StoreKillShapes::Records));
            };
        } else if (store == QLatin1String("passwords")) {
            step = [&](qint64 g) {
                data->addPassword(StoreKillShapes::site(), StoreKillShapes::user(g), StoreKillShapes::secret(g));
            };
        } else if (store == QLatin1String("settings")) {
            step = [&](qint64 g) { data->setSettings(StoreKillShapes::settings(g)); };
        } else if (store == QLatin1String("session")) {
            step = [&](qint64 g) { data->setSession(StoreKillShapes::session(g)); };
        } else {
            return 2;
        }
    }

    QElapsedTimer timer;
    timer.start();
    step(generation++);
    step(generation++);
    std::printf("ready %lld\n", static_cast<long long>(timer.nsecsElapsed() / 2000));
    std::fflush(stdout);
    for (;;)
        step(generation++);
}
