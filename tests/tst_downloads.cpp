#include "DownloadItem.h"
#include "DownloadManager.h"
#include "StallingDownloadServer.h"
#include "TempDataDir.h"

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
    // The engine's one-time start-up chatter is not under test; start it before warnings count.
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

    // Times in ms after the start; expected: speed, sample time, sample bytes.
    void speedArithmetic_data()
    {
        QTest::addColumn<QList<qint64>>("in"); // received, now, sampleTime, sampleBytes, speed
        QTest::addColumn<QList<qint64>>("out");
        QTest::newRow("first report: average since start") << QList<qint64>{40000, 400, 0, 0, 0} << QList<qint64>{99750, 0, 0};
        QTest::newRow("under a second: value kept") << QList<qint64>{70000, 700, 0, 0, 99750} << QList<qint64>{99750, 0, 0};
        QTest::newRow("5 MB over 2500 ms") << QList<qint64>{6000000, 3500, 1000, 1000000, 7} << QList<qint64>{2000000, 3500, 6000000};
        QTest::newRow("stalled: average") << QList<qint64>{500000, 2000, 1000, 500000, 123} << QList<qint64>{249875, 2000, 500000};
        QTest::newRow("same millisecond") << QList<qint64>{10, 0, 0, 0, 0} << QList<qint64>{0, 0, 0};
    }
    void speedArithmetic()
    {
        QFETCH(QList<qint64>, in);
        QFETCH(QList<qint64>, out);
        const qint64 t0 = 1700000000000;
        const auto s = DownloadItem::nextSpeed(in[0], t0 + in[1], t0, t0 + in[2], in[3], in[4]);
        QCOMPARE((QList<qint64>{s.speed, s.sampleTime - t0, s.sampleBytes}), out);
    }

    void historyIsCappedNewestFirst()
    {
        TempDataDir dir;
        DownloadManager manager;
        for (int i = 0; i < DownloadManager::maxHistory + 1; ++i) {
            manager.addDownload(QUrl(QStringLiteral("http://127.0.0.1/f%1").arg(i)), QStringLiteral("f%1").arg(i));
            manager.downloadAt(i)->onDownloadProgress(i, i == 1 ? -1 : 1000);
            manager.downloadAt(i)->onFinished();
        }
        const QJsonArray stored = storedHistory(dir);
        QCOMPARE(stored.size(), DownloadManager::maxHistory);
        QCOMPARE(stored.first().toObject().value(QStringLiteral("filename")).toString(), QStringLiteral("f100"));
        QCOMPARE(stored.last().toObject().value(QStringLiteral("filename")).toString(), QStringLiteral("f1"));
        QCOMPARE(stored.last().toObject().value(QStringLiteral("size")), QJsonValue(-1));
        QCOMPARE(DownloadManager().getDownloadHistory(), stored);
    }

    void realDownloadLandsOnDisk()
    {
        TempDataDir dir;
        QByteArray body(300 * 1024, 'x');
        for (int i = 0; i < body.size(); ++i)
            body[i] = char('a' + i % 26);
        StallingDownloadServer server(body, body.size());
        QVERIFY(server.listen());
        EngineDownload run(dir, server.url(QStringLiteral("report.bin")));
        QTRY_COMPARE_WITH_TIMEOUT(run.finished.count(), 1, 30000);
        DownloadItem *item = run.manager.downloadAt(0);
        QCOMPARE(item->endState(), DownloadItem::EndState::Completed);
        QCOMPARE(item->path(), dir.downloadDir() + QStringLiteral("/report.bin"));
        QFile file(item->path());
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == body);
        const QJsonObject record = storedHistory(dir).first().toObject();
        QCOMPARE(record.value(QStringLiteral("path")).toString(), item->path());
        QCOMPARE(record.value(QStringLiteral("size")).toInteger(), qint64(body.size()));
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
        QCOMPARE(item->progress(), 0.25);
        item->pause();
        QTRY_VERIFY(item->request()->isPaused());
        item->resume();
        QTRY_VERIFY(!item->request()->isPaused());
        item->pause();
        item->cancel();
        QCOMPARE(item->endState(), DownloadItem::EndState::Cancelled);
        QTRY_COMPARE_WITH_TIMEOUT(run.finished.count(), 1, 20000);
        QCOMPARE(item->endState(), DownloadItem::EndState::Cancelled); // the engine's end keeps it
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
        QCOMPARE(item->endState(), DownloadItem::EndState::Failed);
        // The engine's retry announces the same download again: still one item.
        QCOMPARE(run.manager.downloadCount(), 1);
    }
};

QTEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
