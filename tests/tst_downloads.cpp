#include "DownloadItem.h"
#include "DownloadManager.h"
#include "StallingDownloadServer.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QtTest>

class TestDownloads : public QObject
{
    Q_OBJECT

    // A manager receiving every engine download into `dir`, and a view loading `url`.
    struct EngineDownload {
        DownloadManager manager;
        QSignalSpy finished{&manager, &DownloadManager::downloadFinished};
        QSignalSpy failed{&manager, &DownloadManager::downloadFailed};
        QMetaObject::Connection connection;
        QWebEngineView view;
        EngineDownload(const TempDataDir &dir, const QUrl &url)
        {
            QWebEngineProfile *profile = QWebEngineProfile::defaultProfile();
            profile->setDownloadPath(dir.downloadDir());
            connection = QObject::connect(profile, &QWebEngineProfile::downloadRequested, &manager,
                                          qOverload<QWebEngineDownloadRequest *>(&DownloadManager::addDownload));
            view.load(url);
        }
        ~EngineDownload() { QObject::disconnect(connection); }
    };

    static QJsonArray storedHistory(const TempDataDir &dir)
    {
        return QJsonDocument::fromJson(dir.readFile(QStringLiteral("downloads.json"))).array();
    }

private Q_SLOTS:
    // The engine's one-time start-up chatter (graphics back-end, threads)
    // is not what these tests watch; start it before warnings count.
    void initTestCase()
    {
        QWebEngineView view;
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        view.setHtml(QStringLiteral("<p>start</p>"));
        QVERIFY(loaded.wait(30000));
    }
    void init()
    {
        // The engine may announce its missing GPU late, from its own thread.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(R"re(^(?!No suitable graphics backend|WebEngineContext used before).*)re")));
    }

    void speedArithmetic_data()
    {
        QTest::addColumn<qint64>("received");
        QTest::addColumn<qint64>("now");
        QTest::addColumn<qint64>("startTime");
        QTest::addColumn<qint64>("sampleTime");
        QTest::addColumn<qint64>("sampleBytes");
        QTest::addColumn<qint64>("speed");
        QTest::addColumn<qint64>("expectedSpeed");
        QTest::addColumn<qint64>("expectedSampleTime");
        QTest::addColumn<qint64>("expectedSampleBytes");

        const qint64 t0 = 1700000000000;
        auto row = [t0](const char *name, qint64 received, qint64 now, qint64 sampleTime, qint64 sampleBytes, qint64 speed,
                        qint64 expectedSpeed, qint64 expectedSampleTime, qint64 expectedSampleBytes) {
            QTest::newRow(name) << received << t0 + now << t0 << t0 + sampleTime << sampleBytes << speed << expectedSpeed
                                << t0 + expectedSampleTime << expectedSampleBytes;
        };
        row("first report before a sample: average since start", 40000, 400, 0, 0, 0, 99750, 0, 0);
        row("next report 300 ms later keeps the value", 70000, 700, 0, 0, 99750, 99750, 0, 0);
        row("sample after 2500 ms with 5 MB more", 6000000, 3500, 1000, 1000000, 7, 2000000, 3500, 6000000);
        row("stalled second falls back to the average", 500000, 2000, 1000, 500000, 123, 249875, 2000, 500000);
        row("exactly 1000 ms samples", 3000, 1000, 0, 1000, 0, 2000, 1000, 3000);
        row("same millisecond: nothing to measure", 10, 0, 0, 0, 0, 0, 0, 0);
        row("average below 1 B/s stays 0", 0, 5000, 4000, 0, 0, 0, 5000, 0);
    }
    void speedArithmetic()
    {
        QFETCH(qint64, received);
        QFETCH(qint64, now);
        QFETCH(qint64, startTime);
        QFETCH(qint64, sampleTime);
        QFETCH(qint64, sampleBytes);
        QFETCH(qint64, speed);
        const auto s = DownloadItem::nextSpeed(received, now, startTime, sampleTime, sampleBytes, speed);
        QTEST(s.speed, "expectedSpeed");
        QTEST(s.sampleTime, "expectedSampleTime");
        QTEST(s.sampleBytes, "expectedSampleBytes");
    }

    void progressFraction_data()
    {
        QTest::addColumn<qint64>("received");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<double>("expected");
        QTest::newRow("half") << qint64(500) << qint64(1000) << 0.5;
        QTest::newRow("unknown size") << qint64(500) << qint64(-1) << 0.0;
        QTest::newRow("zero size") << qint64(500) << qint64(0) << 0.0;
        QTest::newRow("complete") << qint64(1000) << qint64(1000) << 1.0;
    }
    void progressFraction()
    {
        QFETCH(qint64, received);
        QFETCH(qint64, total);
        DownloadItem item(QUrl(QStringLiteral("http://127.0.0.1/f.bin")), QString(), nullptr);
        QSignalSpy spy(&item, &DownloadItem::progressChanged);
        item.onDownloadProgress(received, total);
        QCOMPARE(spy.count(), 1);
        QTEST(item.progress(), "expected");
        QVERIFY(item.speed() >= 0); // whether or not a millisecond has passed since creation
    }

    void itemFromAddress()
    {
        DownloadItem named(QUrl(QStringLiteral("http://127.0.0.1/a%20b.zip")), QStringLiteral("given.zip"), nullptr);
        QCOMPARE(named.filename(), QStringLiteral("given.zip"));
        DownloadItem derived(QUrl(QStringLiteral("http://127.0.0.1/dir/a%20b.zip?x=1")), QString(), nullptr);
        QCOMPARE(derived.filename(), QStringLiteral("a b.zip"));
        QCOMPARE(derived.path(), QString());

        // Without an engine request the controls have nothing to act on.
        derived.pause();
        QVERIFY(!derived.isPaused());
        derived.cancel();
        QVERIFY(!derived.isFinished());
        QCOMPARE(derived.endState(), DownloadItem::EndState::Running);
    }

    void managerListHistoryCapOrderAndRoundTrip()
    {
        TempDataDir dir;
        DownloadManager manager;
        QCOMPARE(manager.defaultDownloadPath(), dir.downloadDir());
        QCOMPARE(manager.getHistoryPath(), dir.filePath(QStringLiteral("downloads.json")));
        QSignalSpy added(&manager, &DownloadManager::downloadAdded);
        QSignalSpy finished(&manager, &DownloadManager::downloadFinished);
        for (int i = 0; i < DownloadManager::maxHistory + 1; ++i) {
            manager.addDownload(QUrl(QStringLiteral("http://127.0.0.1/f%1").arg(i)), QStringLiteral("f%1").arg(i));
            // Adding from an address starts nothing and writes nothing.
            if (i == 0)
                QVERIFY(!QFile::exists(manager.getHistoryPath()));
            DownloadItem *item = manager.downloadAt(i);
            item->onDownloadProgress(i, i == 1 ? -1 : 1000);
            item->onFinished();
        }
        QCOMPARE(added.count(), DownloadManager::maxHistory + 1);
        QCOMPARE(finished.count(), DownloadManager::maxHistory + 1);
        QVERIFY(!manager.downloadAt(-1));
        QVERIFY(!manager.downloadAt(manager.downloadCount()));

        const QJsonArray stored = storedHistory(dir);
        QCOMPARE(stored, manager.getDownloadHistory());
        QCOMPARE(stored.size(), DownloadManager::maxHistory);
        const QJsonObject newest = stored.first().toObject();
        QCOMPARE(newest.value(QStringLiteral("filename")).toString(), QStringLiteral("f100"));
        QCOMPARE(newest.value(QStringLiteral("url")).toString(), QStringLiteral("http://127.0.0.1/f100"));
        QCOMPARE(newest.value(QStringLiteral("size")).toInteger(), 1000);
        const QDateTime when = QDateTime::fromString(newest.value(QStringLiteral("finished")).toString(), Qt::ISODate);
        QVERIFY(when.isValid() && qAbs(when.secsTo(QDateTime::currentDateTime())) < 60);
        // The oldest record (f0) was the one dropped; an unknown size is kept as -1.
        QCOMPARE(stored.last().toObject().value(QStringLiteral("filename")).toString(), QStringLiteral("f1"));
        QCOMPARE(stored.last().toObject().value(QStringLiteral("size")), QJsonValue(-1));

        DownloadManager reloaded;
        QCOMPARE(reloaded.getDownloadHistory(), stored);
        QCOMPARE(reloaded.downloadCount(), 0);
        // Clearing empties the file but not this run's list.
        reloaded.clearHistory();
        manager.clearHistory();
        QCOMPARE(storedHistory(dir), QJsonArray());
        QCOMPARE(manager.downloadCount(), DownloadManager::maxHistory + 1);
    }

    void damagedHistoryFileIsKeptAside()
    {
        TempDataDir dir;
        dir.writeFile(QStringLiteral("downloads.json"), "[{\"url\": broken");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^StoreFile: unreadable data in .*downloads\\.json")));
        DownloadManager manager;
        QCOMPARE(manager.getDownloadHistory(), QJsonArray());
        const QStringList copies = QDir(dir.dataFolder()).entryList({QStringLiteral("downloads.json.corrupt-*")});
        QCOMPARE(copies.size(), 1);
        QCOMPARE(dir.readFile(copies.first()), QByteArray("[{\"url\": broken"));
    }

    void failureIsRelayedWithoutARecord()
    {
        TempDataDir dir;
        DownloadManager manager;
        manager.addDownload(QUrl(QStringLiteral("http://127.0.0.1/x")), QString());
        QSignalSpy failed(&manager, &DownloadManager::downloadFailed);
        manager.downloadAt(0)->onFailed();
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.first().at(1).toString(), QStringLiteral("Download failed"));
        QVERIFY(manager.downloadAt(0)->isFinished());
        QCOMPARE(manager.getDownloadHistory().size(), 0);
    }

    void realDownloadLandsOnDisk()
    {
        TempDataDir dir;
        TestHttpServer server;
        QVERIFY(server.listen());
        QByteArray body(300 * 1024, 'x');
        for (int i = 0; i < body.size(); ++i)
            body[i] = char('a' + i % 26);
        server.route("/report.bin", [body](const TestHttpServer::Request &) {
            TestHttpServer::Response r;
            r.contentType = "application/octet-stream";
            r.body = body;
            r.headers.append(qMakePair(QByteArray("Content-Disposition"), QByteArray("attachment; filename=\"report.bin\"")));
            // TestHttpServer must not die with a socket still open (its
            // destructor trips over it), so the engine is asked to close.
            r.headers.append(qMakePair(QByteArray("Connection"), QByteArray("close")));
            return r;
        });

        EngineDownload run(dir, server.url(QStringLiteral("/report.bin")));
        QTRY_COMPARE_WITH_TIMEOUT(run.finished.count(), 1, 30000);
        QCOMPARE(run.manager.downloadCount(), 1);
        DownloadItem *item = run.manager.downloadAt(0);
        QCOMPARE(item->endState(), DownloadItem::EndState::Completed);
        QCOMPARE(item->path(), dir.downloadDir() + QStringLiteral("/report.bin"));
        QCOMPARE(item->bytesReceived(), qint64(body.size()));
        QCOMPARE(item->progress(), 1.0);
        QFile file(item->path());
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == body);

        const QJsonArray stored = storedHistory(dir);
        QCOMPARE(stored.size(), 1);
        const QJsonObject record = stored.first().toObject();
        QCOMPARE(record.value(QStringLiteral("path")).toString(), item->path());
        QCOMPARE(record.value(QStringLiteral("filename")).toString(), QStringLiteral("report.bin"));
        QCOMPARE(record.value(QStringLiteral("url")).toString(), server.url(QStringLiteral("/report.bin")).toString());
        QCOMPARE(record.value(QStringLiteral("size")).toInteger(), qint64(body.size()));
        QCOMPARE(server.requestCount("/report.bin"), 1);
    }

    void pauseResumeCancelOfARunningDownload()
    {
        TempDataDir dir;
        StallingDownloadServer server(QByteArray(200000, 'z'), 50000);
        QVERIFY(server.listen());
        EngineDownload run(dir, server.url(QStringLiteral("slow.bin")));
        QTRY_COMPARE_WITH_TIMEOUT(run.manager.downloadCount(), 1, 30000);
        DownloadItem *item = run.manager.downloadAt(0);
        QTRY_COMPARE_WITH_TIMEOUT(item->bytesReceived(), qint64(50000), 20000);
        QCOMPARE(item->bytesTotal(), qint64(200000));
        QCOMPARE(item->progress(), 0.25);

        item->pause();
        QVERIFY(item->isPaused());
        QTRY_VERIFY(item->request()->isPaused());
        item->resume();
        QVERIFY(!item->isPaused());
        QTRY_VERIFY(!item->request()->isPaused());
        item->resume(); // not paused: nothing to do
        QVERIFY(!item->isPaused());

        item->pause();
        item->cancel();
        QVERIFY(item->isFinished());
        QCOMPARE(item->endState(), DownloadItem::EndState::Cancelled);
        item->pause(); // refused once finished

        QTRY_COMPARE_WITH_TIMEOUT(run.finished.count(), 1, 20000);
        QVERIFY(!item->isPaused());
        QCOMPARE(item->endState(), DownloadItem::EndState::Cancelled); // the engine's end keeps it
        const QJsonArray stored = storedHistory(dir);
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored.first().toObject().value(QStringLiteral("size")).toInteger(), item->bytesTotal());
        QVERIFY(!QFile::exists(item->path()));
    }

    void interruptedDownloadIsReportedAsFailed()
    {
        TempDataDir dir;
        StallingDownloadServer server(QByteArray(200000, 'q'), 20000);
        QVERIFY(server.listen());
        EngineDownload run(dir, server.url(QStringLiteral("cut.bin")));
        QTRY_COMPARE_WITH_TIMEOUT(run.manager.downloadCount(), 1, 30000);
        DownloadItem *item = run.manager.downloadAt(0);
        QTRY_COMPARE_WITH_TIMEOUT(item->bytesReceived(), qint64(20000), 20000);
        server.abortAll();

        QTRY_COMPARE_WITH_TIMEOUT(run.failed.count(), 1, 20000);
        QCOMPARE(run.finished.count(), 1);
        QCOMPARE(item->endState(), DownloadItem::EndState::Failed);
        QCOMPARE(storedHistory(dir).size(), 1);
        // The engine's retry announced the same download again: still one item.
        QVERIFY(server.requestCount() >= 2);
        QCOMPARE(run.manager.downloadCount(), 1);
    }
};

QTEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
