// Hot paths of the browser, timed with Google Benchmark: the request
// interceptor's decision, recording a visit into a full history, saving a
// 20-tab session, rebuilding the address-bar completion and filtering the
// command palette. Runs offscreen with fake VPN tools and a throw-away
// configuration folder.
#include "ActiveFilters.h"
#include "CommandPalette.h"
#include "DataManager.h"
#include "FakeTools.h"
#include "FilterEngine.h"
#include "FilterEngineLoader.h"
#include "MainWindow.h"
#include "ProtectionScript.h"
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

#include <QWebEngineUrlRequestInfo>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

// Heap allocations made while `countingAllocations` is set: every malloc of
// the process passes here first (Qt's containers and operator new included).
namespace {
std::atomic<bool> countingAllocations{false};
std::atomic<long> allocations{0};
}
extern "C" void *__libc_malloc(size_t size);
extern "C" void *__libc_calloc(size_t count, size_t size);
extern "C" void *__libc_realloc(void *pointer, size_t size);
extern "C" void *malloc(size_t size)
{
    if (countingAllocations.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
extern "C" void *calloc(size_t count, size_t size)
{
    if (countingAllocations.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
extern "C" void *realloc(void *pointer, size_t size)
{
    if (countingAllocations.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}

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

// ---- filter engine -----------------------------------------------------------
// EasyList + EasyPrivacy from the build's snapshot, decided over the request
// corpus of bench/filtercorpus.py (page loads of real sites).

QList<FilterEngine::Source> snapshotLists()
{
    QList<FilterEngine::Source> lists;
    for (const char *name : {"easylist.txt", "easyprivacy.txt"}) {
        QFile f(QStringLiteral(ORVEX_BENCH_FILTERLISTS "/") + QLatin1String(name));
        if (f.open(QIODevice::ReadOnly))
            lists.append({QLatin1String(name), f.readAll()});
    }
    return lists;
}

struct CorpusRequest {
    QByteArray url;
    QByteArray page;
    quint32 type;
};

const QVector<CorpusRequest> &corpus()
{
    static const QVector<CorpusRequest> requests = [] {
        QVector<CorpusRequest> out;
        QFile f(QStringLiteral(ORVEX_BENCH_REQUESTS));
        if (!f.open(QIODevice::ReadOnly))
            return out;
        while (!f.atEnd()) {
            const QList<QByteArray> parts = f.readLine().trimmed().split('\t');
            if (parts.size() == 3) {
                // Through QUrl, as the interceptor gets them.
                out.append({QUrl(QString::fromUtf8(parts[0])).toEncoded(), QUrl(QString::fromUtf8(parts[1])).toEncoded(),
                            FilterEngine::typeFromName(QString::fromUtf8(parts[2]))});
            }
        }
        return out;
    }();
    return requests;
}

long residentKiB()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * 4;
}

std::shared_ptr<const FilterEngine> &sharedEngine()
{
    static std::shared_ptr<const FilterEngine> engine = FilterEngine::build(snapshotLists());
    return engine;
}

// Parsing and compiling both lists from text, with the resident memory the
// engine adds (measured once, on the first build).
void BM_FilterParse(benchmark::State &state)
{
    const QList<FilterEngine::Source> lists = snapshotLists();
    if (lists.size() != 2) {
        state.SkipWithError("no filter list snapshot");
        return;
    }
    qsizetype rules = 0, bytes = 0;
    for (auto _ : state) {
        const auto engine = FilterEngine::build(lists);
        rules = engine->networkRuleCount() + engine->hidingRuleCount();
        bytes = engine->memoryUsage();
    }
    state.counters["rules"] = double(rules);
    state.counters["engine_MiB"] = double(bytes) / (1024.0 * 1024.0);
}
BENCHMARK(BM_FilterParse)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Start-up from the compiled cache file: the lists' key, then map, check, index.
void BM_FilterCacheLoad(benchmark::State &state)
{
    const QList<FilterEngine::Source> lists = snapshotLists();
    if (lists.size() != 2) {
        state.SkipWithError("no filter list snapshot");
        return;
    }
    TempDataDir dir;
    const QString path = dir.path() + QStringLiteral("/filterengine.bin");
    const QByteArray key = FilterEngineLoader::sourceKey(lists);
    const QByteArray bytes = sharedEngine()->toBytes(key);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        state.SkipWithError("cannot write the cache");
        return;
    }
    file.close();
    for (auto _ : state) {
        const auto engine = FilterEngine::fromFile(path, FilterEngineLoader::sourceKey(lists));
        if (!engine)
            state.SkipWithError("cache refused");
    }
    state.counters["cache_MiB"] = double(bytes.size()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_FilterCacheLoad)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Resident memory added by one engine (a fresh build, kept alive).
void BM_FilterMemory(benchmark::State &state)
{
    const QList<FilterEngine::Source> lists = snapshotLists();
    if (lists.size() != 2) {
        state.SkipWithError("no filter list snapshot");
        return;
    }
    long delta = 0;
    for (auto _ : state) {
        const long before = residentKiB();
        const auto engine = FilterEngine::build(lists);
        delta = residentKiB() - before;
        benchmark::DoNotOptimize(engine);
    }
    state.counters["rss_delta_MiB"] = double(delta) / 1024.0;
    state.counters["engine_MiB"] = double(sharedEngine()->memoryUsage()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_FilterMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// One decision as the interceptor makes it: the page context is worked out
// once per page (pages repeat in the corpus), each request decided on its
// own. Median and 99th percentile of single decisions are counters.
void BM_FilterDecide(benchmark::State &state)
{
    const auto &engine = sharedEngine();
    const QVector<CorpusRequest> &requests = corpus();
    if (requests.isEmpty() || engine->networkRuleCount() == 0) {
        state.SkipWithError("no request corpus or filter lists");
        return;
    }
    QHash<QByteArray, FilterEngine::Page> pages;
    for (const CorpusRequest &r : requests) {
        if (!pages.contains(r.page))
            pages.insert(r.page, engine->page(QByteArrayView(r.page)));
    }
    std::vector<double> samples;
    samples.reserve(size_t(requests.size()) * 4);
    qsizetype i = 0;
    int blocked = 0;
    for (auto _ : state) {
        const CorpusRequest &r = requests[i];
        const FilterEngine::Page &page = pages[r.page];
        const auto t0 = std::chrono::steady_clock::now();
        const FilterEngine::Decision d = engine->decide(r.url, page, r.type);
        const auto t1 = std::chrono::steady_clock::now();
        blocked += d.blocked ? 1 : 0;
        if (samples.size() < samples.capacity())
            samples.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        if (++i == requests.size())
            i = 0;
    }
    benchmark::DoNotOptimize(blocked);
    std::sort(samples.begin(), samples.end());
    if (!samples.empty()) {
        state.counters["median_us"] = samples[samples.size() / 2];
        state.counters["p99_us"] = samples[samples.size() * 99 / 100];
        state.counters["max_us"] = samples.back();
    }
    state.counters["requests"] = double(requests.size());
}
BENCHMARK(BM_FilterDecide)->Unit(benchmark::kMicrosecond);

// The interceptor's decision as the browser makes it for each request of a
// tab, with EasyList and EasyPrivacy loaded: the request as a QUrl, the
// page's address and the frame's origin (pages repeat, as in a tab), the
// lists, then the built-in host lists and the lists' exceptions over them.
// Median and 99th percentile of single decisions, and heap allocations per
// decision, are counters.
void BM_InterceptorEvaluate(benchmark::State &state)
{
    const QVector<CorpusRequest> &requests = corpus();
    if (requests.isEmpty() || sharedEngine()->networkRuleCount() == 0) {
        state.SkipWithError("no request corpus or filter lists");
        return;
    }
    struct Request {
        QUrl url, page, origin;
        int type;
    };
    static const auto resourceTypes = [] {
        QHash<quint32, int> types;
        for (int t = 0; t <= QWebEngineUrlRequestInfo::ResourceTypeLast; ++t)
            types.insert(FilterEngine::typeFromResourceType(t), t);
        types.insert(FilterRule::Script, QWebEngineUrlRequestInfo::ResourceTypeScript);
        types.insert(FilterRule::Image, QWebEngineUrlRequestInfo::ResourceTypeImage);
        types.insert(FilterRule::Document, QWebEngineUrlRequestInfo::ResourceTypeMainFrame);
        types.insert(FilterRule::Subdocument, QWebEngineUrlRequestInfo::ResourceTypeSubFrame);
        types.insert(FilterRule::Other, QWebEngineUrlRequestInfo::ResourceTypeSubResource);
        types.insert(FilterRule::WebSocket, QWebEngineUrlRequestInfo::ResourceTypeWebSocket);
        return types;
    }();
    QVector<Request> mix;
    for (const CorpusRequest &r : requests) {
        const QUrl page = QUrl::fromEncoded(r.page);
        mix.append({QUrl::fromEncoded(r.url), page, page.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment),
                    resourceTypes.value(r.type, QWebEngineUrlRequestInfo::ResourceTypeSubResource)});
    }
    ActiveFilters::setEngine(sharedEngine());
    RequestInterceptor interceptor;
    std::vector<double> samples;
    samples.reserve(size_t(mix.size()) * 4);
    qsizetype i = 0;
    long decisions = 0;
    int blocked = 0;
    allocations = 0;
    for (auto _ : state) {
        const Request &r = mix[i];
        countingAllocations = true;
        const auto t0 = std::chrono::steady_clock::now();
        const RequestInterceptor::Outcome outcome = interceptor.evaluate(r.url, r.page, r.origin, r.type);
        const auto t1 = std::chrono::steady_clock::now();
        countingAllocations = false;
        ++decisions;
        blocked += outcome.blocked() ? 1 : 0;
        if (samples.size() < samples.capacity())
            samples.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        if (++i == mix.size())
            i = 0;
    }
    ActiveFilters::setEngine(nullptr);
    benchmark::DoNotOptimize(blocked);
    std::sort(samples.begin(), samples.end());
    if (!samples.empty()) {
        state.counters["median_us"] = samples[samples.size() / 2];
        state.counters["p99_us"] = samples[samples.size() * 99 / 100];
    }
    state.counters["allocs_per_decision"] = double(allocations) / double(qMax(1L, decisions));
    state.counters["blocked_share"] = double(blocked) / double(qMax(1L, decisions));
}
BENCHMARK(BM_InterceptorEvaluate)->Unit(benchmark::kMicrosecond);

// A page's element hiding as the browser sends it with each navigation:
// its domain's rules and exceptions (the generic data goes once per profile).
void BM_FilterPageHiding(benchmark::State &state)
{
    const auto &engine = sharedEngine();
    static const char *const pages[] = {"https://www.bbc.com/news", "https://github.com/qt/qtbase",
                                        "https://www.spiegel.de/", "https://www.reddit.com/r/cpp/"};
    QVector<QUrl> urls;
    for (const char *p : pages)
        urls.append(QUrl(QString::fromLatin1(p)));
    qsizetype i = 0, chars = 0;
    for (auto _ : state) {
        chars = ProtectionScript::hidingSource(engine.get(), urls[i], 1).size();
        if (++i == urls.size())
            i = 0;
    }
    state.counters["script_chars"] = double(chars);
}
BENCHMARK(BM_FilterPageHiding)->Unit(benchmark::kMicrosecond);

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
