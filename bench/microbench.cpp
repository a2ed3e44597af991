// Hot paths of the browser, timed with Google Benchmark: the request
// interceptor's decision, recording a visit into a full history, saving a
// 20-tab session, rebuilding the address-bar completion and filtering the
// command palette. Runs offscreen with fake VPN tools and a throw-away
// configuration folder.
#include "CommandPalette.h"
#include "DataManager.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "RequestInterceptor.h"
#include "TempDataDir.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QUrl>
#include <QVector>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// ---- fixtures --------------------------------------------------------------

// Requests as a page mix produces them: mostly first-party and CDN assets,
// some ad and tracker hosts, a few ad-looking paths on ordinary hosts.
QVector<QUrl> realisticUrls(int count)
{
    static const char *const plainHosts[] = {
        "www.example.com", "cdn.jsdelivr.net", "fonts.gstatic.com", "fonts.googleapis.com",
        "i.ytimg.com", "upload.wikimedia.org", "en.wikipedia.org", "static.xx.fbcdn.net",
        "www.bbc.co.uk", "ichef.bbci.co.uk", "assets.nytimes.com", "static01.nyt.com",
        "github.githubassets.com", "avatars.githubusercontent.com", "news.ycombinator.com",
        "www.reddit.com", "styles.redditmedia.com", "cdnjs.cloudflare.com", "unpkg.com",
        "ajax.googleapis.com", "www.gstatic.com", "maps.googleapis.com", "api.example.org",
        "media.example.net", "shop.example.de", "img.example.fr", "login.example.com",
        "docs.qt.io", "www.debian.org", "packages.debian.org", "stackoverflow.com",
        "cdn.sstatic.net", "i.stack.imgur.com", "www.heise.de", "www.spiegel.de",
        "cdn.shopify.com", "js.stripe.com", "player.vimeo.com", "s.w.org", "account.orvexvpn.net",
    };
    static const char *const adHosts[] = {
        "securepubads.g.doubleclick.net", "tpc.googlesyndication.com", "pagead2.googlesyndication.com",
        "www.googleadservices.com", "adservice.google.com", "ib.adnxs.com", "fastlane.rubiconproject.com",
        "static.criteo.com", "widgets.outbrain.com", "cdn.taboola.com", "hbopenbid.pubmatic.com",
        "match.adsrvr.org", "z.moatads.com", "bs.serving-sys.com",
    };
    static const char *const trackerHosts[] = {
        "www.google-analytics.com", "www.googletagmanager.com", "analytics.google.com",
        "connect.facebook.net", "sb.scorecardresearch.com", "pixel.quantserve.com",
        "static.chartbeat.com", "static.hotjar.com", "bam.nr-data.net", "api-js.mixpanel.com",
        "cdn.segment.com", "api.segment.io", "script.crazyegg.com",
    };
    static const char *const dirs[] = {
        "static/js", "static/css", "assets/img", "images/2024/05", "wiki/Special:Random",
        "media/thumbs", "api/v2/items", "fonts/roboto", "news/world", "s/files/1/0",
        "content/ads", "adserver/bid", "p/collect", "gtag/js", "i/photo",
    };
    static const char *const files[] = {
        "app.3f9a1c.js", "main.css", "logo.svg", "photo_1280.jpg", "index.html", "data.json",
        "font-latin.woff2", "thumb%20small.png", "bundle.min.js", "pixel.gif", "r%C3%A9sum%C3%A9.pdf",
    };
    QRandomGenerator rng(20240501);
    QVector<QUrl> urls;
    urls.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int pick = int(rng.bounded(100));
        const char *host = pick < 12 ? adHosts[rng.bounded(int(std::size(adHosts)))]
                         : pick < 22 ? trackerHosts[rng.bounded(int(std::size(trackerHosts)))]
                                     : plainHosts[rng.bounded(int(std::size(plainHosts)))];
        QString text = QStringLiteral("%1://%2/%3/%4")
                           .arg(QLatin1String(rng.bounded(10) ? "https" : "http"), QLatin1String(host),
                                QLatin1String(dirs[rng.bounded(int(std::size(dirs)))]),
                                QLatin1String(files[rng.bounded(int(std::size(files)))]));
        if (rng.bounded(3) == 0)
            text += QStringLiteral("?v=%1&utm_source=news&ref=%2").arg(rng.bounded(100000)).arg(i);
        urls.append(QUrl(text));
    }
    return urls;
}

QJsonArray records(const QString &prefix, int count, const QString &timeKey)
{
    QJsonArray out;
    for (int i = 0; i < count; ++i) {
        out.append(QJsonObject{
            {QStringLiteral("url"), QStringLiteral("https://%1%2.example.com/articles/%3?page=%4")
                                        .arg(prefix).arg(i % 97).arg(i).arg(i % 7)},
            {QStringLiteral("title"), QStringLiteral("%1 article number %2 – a realistic page title").arg(prefix).arg(i)},
            {timeKey, QStringLiteral("2024-05-01T12:%1:%2").arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                                                          .arg(i % 60, 2, 10, QLatin1Char('0'))},
        });
    }
    return out;
}

void writeStore(const TempDataDir &dir, const QString &name, const QJsonArray &array)
{
    dir.writeFile(name, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QJsonArray sessionOf(int tabs)
{
    QJsonArray session;
    for (int i = 0; i < tabs; ++i)
        session.append(QJsonObject{{QStringLiteral("url"), QStringLiteral("https://site%1.example.com/page").arg(i)},
                                   {QStringLiteral("title"), QStringLiteral("Tab %1").arg(i)},
                                   {QStringLiteral("pinned"), i < 2}});
    return session;
}

// One browser window for the window-level benchmarks: a full history, 500
// bookmarks, 20 restored tabs (no tunnel, so they show the local warning).
struct WindowFixture {
    TempDataDir dir;
    FakeTools tools;
    std::unique_ptr<MainWindow> window;

    WindowFixture()
    {
        tools.setIpOutputFromSample(QStringLiteral("host-no-tunnel"));
        writeStore(dir, QStringLiteral("history.json"), records(QStringLiteral("h"), DataManager::MaxHistoryEntries,
                                                                QStringLiteral("timestamp")));
        writeStore(dir, QStringLiteral("bookmarks.json"), records(QStringLiteral("b"), 500, QStringLiteral("added")));
        writeStore(dir, QStringLiteral("session.json"), sessionOf(20));
        window = std::make_unique<MainWindow>();
        QCoreApplication::processEvents();
    }
};

std::unique_ptr<WindowFixture> &windowFixturePtr()
{
    static std::unique_ptr<WindowFixture> fixture;
    return fixture;
}

WindowFixture &windowFixture()
{
    if (!windowFixturePtr())
        windowFixturePtr() = std::make_unique<WindowFixture>();
    return *windowFixturePtr();
}

// ---- benchmarks ------------------------------------------------------------

const QVector<QUrl> &urlMix()
{
    static const QVector<QUrl> urls = realisticUrls(10000);
    return urls;
}

template<typename Decision>
void runOverUrls(benchmark::State &state, Decision decision)
{
    RequestInterceptor interceptor;
    const QVector<QUrl> &urls = urlMix();
    qsizetype i = 0;
    int blocked = 0;
    for (auto _ : state) {
        blocked += decision(interceptor, urls[i]) ? 1 : 0;
        if (++i == urls.size())
            i = 0;
    }
    benchmark::DoNotOptimize(blocked);
    state.counters["urls"] = double(urls.size());
}

void BM_InterceptorDecide(benchmark::State &state)
{
    runOverUrls(state, [](const RequestInterceptor &r, const QUrl &u) {
        return r.decide(u) != RequestInterceptor::Verdict::Pass;
    });
}
BENCHMARK(BM_InterceptorDecide);

void BM_InterceptorIsAd(benchmark::State &state)
{
    runOverUrls(state, [](const RequestInterceptor &r, const QUrl &u) { return r.isAd(u); });
}
BENCHMARK(BM_InterceptorIsAd);

void BM_InterceptorIsTracker(benchmark::State &state)
{
    runOverUrls(state, [](const RequestInterceptor &r, const QUrl &u) { return r.isTracker(u); });
}
BENCHMARK(BM_InterceptorIsTracker);

// One visit into a history already at its cap: the in-memory update plus the
// atomic, synced rewrite of history.json.
void BM_AddHistoryFull(benchmark::State &state)
{
    TempDataDir dir;
    writeStore(dir, QStringLiteral("history.json"), records(QStringLiteral("h"), DataManager::MaxHistoryEntries,
                                                            QStringLiteral("timestamp")));
    DataManager data(dir.configDir());
    if (data.getHistory().size() != DataManager::MaxHistoryEntries) {
        state.SkipWithError("history not loaded");
        return;
    }
    int n = 0;
    for (auto _ : state)
        data.addHistory(QStringLiteral("https://visit.example.com/page/%1").arg(n++), QStringLiteral("A visited page"));
}
BENCHMARK(BM_AddHistoryFull)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

void BM_SetSession20(benchmark::State &state)
{
    TempDataDir dir;
    DataManager data(dir.configDir());
    const QJsonArray session = sessionOf(20);
    for (auto _ : state)
        data.setSession(session);
}
BENCHMARK(BM_SetSession20)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

void BM_MainWindowSaveSession20(benchmark::State &state)
{
    MainWindow &w = *windowFixture().window;
    if (w.tabs()->count() != 20) {
        state.SkipWithError("session not restored");
        return;
    }
    for (auto _ : state)
        w.saveSession();
}
BENCHMARK(BM_MainWindowSaveSession20)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

void BM_UpdateAutocomplete(benchmark::State &state)
{
    MainWindow &w = *windowFixture().window;
    if (w.data()->getHistory().size() != DataManager::MaxHistoryEntries || w.data()->getBookmarks().size() != 500) {
        state.SkipWithError("history or bookmarks not loaded");
        return;
    }
    for (auto _ : state)
        w.updateAutocomplete();
}
BENCHMARK(BM_UpdateAutocomplete)->Unit(benchmark::kMicrosecond);

// Filtering the whole command list for one query, as one keystroke does.
void BM_PaletteMatches(benchmark::State &state)
{
    MainWindow &w = *windowFixture().window;
    if (!w.palette()) { // made on first use
        w.onCommandPalette();
        w.palette()->hide();
    }
    w.palette()->populateCommands();
    const QList<CommandPalette::CommandItem> &items = w.palette()->commandItems();
    static const QString queries[] = {QString(), QStringLiteral("t"), QStringLiteral("tab"),
                                      QStringLiteral("VPN"), QStringLiteral("book"),
                                      QStringLiteral("privacy dash"), QStringLiteral("zzz-nothing")};
    qsizetype q = 0;
    int hits = 0;
    for (auto _ : state) {
        const QString &query = queries[q];
        for (const CommandPalette::CommandItem &item : items)
            hits += CommandPalette::matches(query, item.name, item.description) ? 1 : 0;
        if (++q == qsizetype(std::size(queries)))
            q = 0;
    }
    benchmark::DoNotOptimize(hits);
    state.counters["commands"] = double(items.size());
}
BENCHMARK(BM_PaletteMatches)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                "--disable-gpu --no-sandbox --disable-background-networking --disable-component-update");
    qputenv("QT_LOGGING_RULES", "qt.webenginecontext.debug=false");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The window must go before the application object.
    windowFixturePtr().reset();
    return 0;
}
