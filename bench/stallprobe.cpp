// Longest GUI-thread stall per phase: a 1 ms timer measures the event loop's
// latency while the browser starts, probes the VPN, disconnects, syncs keys
// and records visits. Fake VPN tools, a loopback account service and a
// throw-away configuration folder; offscreen unless QT_QPA_PLATFORM says
// otherwise. Usage: orvex_stallprobe [result.json]
#include "AccountServiceStub.h"
#include "AccountSyncManager.h"
#include "DataManager.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"
#include "VPNManager.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>
#include <QWebEngineView>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

constexpr int kTickMs = 1;

// Event-loop latency: the largest gap between two ticks of a 1 ms timer,
// less the interval itself.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        clock.start();
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(kTickMs);
        connect(&timer, &QTimer::timeout, this, [this] { tick(); });
        timer.start();
    }
    void begin()
    {
        last = clock.nsecsElapsed();
        worst = 0;
    }
    double endMs()
    {
        tick();
        return std::max(0.0, worst / 1e6 - kTickMs);
    }

private:
    void tick()
    {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last);
        last = now;
    }
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worst = 0;
};

// Runs trigger from the event loop, then spins until done() holds and settleMs
// more have passed (or timeoutMs); returns the longest stall in between.
// Message boxes the phase opens are answered once they have been shown.
double measure(StallMeter &meter, const std::function<void()> &trigger, const std::function<bool()> &done,
               int settleMs, int timeoutMs = 30000, bool *timedOut = nullptr)
{
    QEventLoop loop;
    QElapsedTimer elapsed;
    qint64 doneAt = -1;
    QTimer poll;
    poll.setInterval(kTickMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            if (box->isVisible())
                box->done(QMessageBox::Ok);
        }
        if (doneAt < 0 && done())
            doneAt = elapsed.elapsed();
        if ((doneAt >= 0 && elapsed.elapsed() - doneAt >= settleMs) || elapsed.elapsed() > timeoutMs) {
            if (timedOut)
                *timedOut = doneAt < 0;
            loop.quit();
        }
    });
    meter.begin();
    elapsed.start();
    QTimer::singleShot(0, &loop, trigger);
    poll.start();
    loop.exec();
    return meter.endMs();
}

QJsonArray records(const QString &prefix, int count, const QString &timeKey)
{
    QJsonArray out;
    for (int i = 0; i < count; ++i)
        out.append(QJsonObject{{QStringLiteral("url"), QStringLiteral("https://%1%2.example.com/a/%3").arg(prefix).arg(i % 97).arg(i)},
                               {QStringLiteral("title"), QStringLiteral("%1 article %2").arg(prefix).arg(i)},
                               {timeKey, QStringLiteral("2024-05-01T12:00:00")}});
    return out;
}

const QByteArray kPage = "<!DOCTYPE html><html><head><title>Probe page</title></head><body>"
                         "<h1>Probe</h1><p>A page to restore.</p></body></html>";

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                "--disable-gpu --no-sandbox --disable-background-networking --disable-component-update");
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();

    TempDataDir dir;
    FakeTools tools;
    tools.setIpOutputFromSample(QStringLiteral("openvpn-tun-up"));
    TestHttpServer pages;
    AccountServiceStub account;
    if (dir.path().isEmpty() || tools.binDir().isEmpty() || !pages.listen() || !account.listen()) {
        qCritical("stallprobe: set-up failed");
        return 2;
    }
    pages.setPage("/page", kPage);
    const QString pageUrl = pages.url(QStringLiteral("/page")).toString();
    dir.writeFile(QStringLiteral("history.json"),
                  QJsonDocument(records(QStringLiteral("h"), DataManager::MaxHistoryEntries, QStringLiteral("timestamp"))).toJson());
    dir.writeFile(QStringLiteral("bookmarks.json"),
                  QJsonDocument(records(QStringLiteral("b"), 500, QStringLiteral("added"))).toJson());
    dir.writeFile(QStringLiteral("session.json"),
                  QJsonDocument(QJsonArray{QJsonObject{{QStringLiteral("url"), pageUrl},
                                                       {QStringLiteral("title"), QStringLiteral("Probe page")},
                                                       {QStringLiteral("pinned"), false}}}).toJson());

    StallMeter meter;
    QJsonArray phases;
    auto report = [&phases](const QString &name, double ms, bool ours, const QString &note = QString()) {
        phases.append(QJsonObject{{QStringLiteral("phase"), name}, {QStringLiteral("stall_ms"), ms},
                                  {QStringLiteral("ours"), ours}, {QStringLiteral("note"), note}});
    };

    report(QStringLiteral("idle event loop (noise floor)"),
           measure(meter, [] {}, [] { return true; }, 1000), false);

    // The engine's own start, paid by any program with a web view.
    {
        std::unique_ptr<QWebEngineView> view;
        bool loaded = false;
        report(QStringLiteral("engine start: first bare QWebEngineView"),
               measure(meter, [&] {
                   view = std::make_unique<QWebEngineView>();
                   QObject::connect(view.get(), &QWebEngineView::loadFinished, [&loaded] { loaded = true; });
                   view->load(QUrl(QStringLiteral("about:blank")));
                   view->show();
               }, [&] { return loaded; }, 500), false);
        loaded = false;
        report(QStringLiteral("bare QWebEngineView loading the page"),
               measure(meter, [&] {
                   view = std::make_unique<QWebEngineView>();
                   QObject::connect(view.get(), &QWebEngineView::loadFinished, [&loaded] { loaded = true; });
                   view->load(QUrl(pageUrl));
                   view->show();
               }, [&] { return loaded; }, 1000), false);
    }

    std::unique_ptr<MainWindow> window;
    qint64 constructMs = 0;
    const double startStall = measure(meter, [&] {
        QElapsedTimer t;
        t.start();
        window = std::make_unique<MainWindow>();
        window->show();
        constructMs = t.elapsed();
    }, [&] {
        return window && !window->data()->getHistory().isEmpty()
            && window->data()->getHistory().first().toObject().value(QStringLiteral("url")).toString() == pageUrl;
    }, 1000);
    report(QStringLiteral("start-up: MainWindow, restore 1 tab, visit recorded"), startStall, true,
           QStringLiteral("constructor + show: %1 ms").arg(constructMs));
    VPNManager *vpn = window->vpn();

    int probes = 0;
    QObject::connect(vpn, &VPNManager::probeFinished, [&probes] { ++probes; });
    int before = probes;
    report(QStringLiteral("VPN probe cycle (tunnel stays up)"),
           measure(meter, [&] { vpn->checkVPNStatus(); }, [&] { return probes > before; }, 300), true);

    tools.setIpOutputFromSample(QStringLiteral("host-no-tunnel"));
    before = probes;
    report(QStringLiteral("VPN disconnect (fake tools; tabs switch to the warning)"),
           measure(meter, [&] { vpn->disconnectVPN(); },
                   [&] { return !vpn->isDisconnecting() && !vpn->isProbeRunning() && probes > before; }, 500),
           true);

    tools.setIpOutputFromSample(QStringLiteral("openvpn-tun-up"));
    before = probes;
    report(QStringLiteral("VPN probe cycle (tunnel comes up; tab reloads)"),
           measure(meter, [&] { vpn->checkVPNStatus(); }, [&] { return probes > before; }, 1000), true);

    AccountSyncManager *sync = window->accountSync();
    sync->setBaseUrl(account.baseUrl());
    bool synced = false, syncOk = false;
    QObject::connect(sync, &AccountSyncManager::syncFinished, [&](bool ok) { synced = true; syncOk = ok; });
    const double syncStall =
        measure(meter, [&] { sync->syncKeys(AccountServiceStub::sessionToken()); }, [&] { return synced; }, 300);
    report(QStringLiteral("key sync (loopback service; message box answered)"), syncStall, true,
           syncOk ? QString() : QStringLiteral("sync failed"));

    QList<double> writes;
    for (int i = 0; i < 20; ++i) {
        writes.append(measure(meter, [&, i] {
            window->data()->addHistory(QStringLiteral("https://visit%1.example.com/").arg(i), QStringLiteral("Visit"));
            window->updateAutocomplete();
        }, [] { return true; }, 20));
    }
    std::sort(writes.begin(), writes.end());
    report(QStringLiteral("history write + completion rebuild (20x, max)"), writes.last(), true,
           QStringLiteral("median %1 ms").arg(writes.at(writes.size() / 2), 0, 'f', 2));

    window.reset();

    QTextStream cout(stdout);
    double worstOurs = 0;
    cout << QStringLiteral("%1 %2\n").arg(QStringLiteral("phase"), -58).arg(QStringLiteral("stall ms"), 9);
    for (const QJsonValue &v : std::as_const(phases)) {
        const QJsonObject o = v.toObject();
        if (o.value(QStringLiteral("ours")).toBool())
            worstOurs = std::max(worstOurs, o.value(QStringLiteral("stall_ms")).toDouble());
        cout << QStringLiteral("%1 %2  %3\n")
                    .arg(o.value(QStringLiteral("phase")).toString(), -58)
                    .arg(o.value(QStringLiteral("stall_ms")).toDouble(), 9, 'f', 1)
                    .arg(o.value(QStringLiteral("note")).toString());
    }
    cout << QStringLiteral("longest stall in our phases: %1 ms (budget 50 ms): %2\n")
                .arg(worstOurs, 0, 'f', 1)
                .arg(worstOurs <= 50 ? QStringLiteral("PASS") : QStringLiteral("MISS"));
    cout.flush();
    if (!out.isEmpty()) {
        QFile f(out);
        if (f.open(QIODevice::WriteOnly))
            f.write(QJsonDocument(QJsonObject{{QStringLiteral("phases"), phases},
                                              {QStringLiteral("worst_ours_ms"), worstOurs}}).toJson());
    }
    return 0;
}
