#include "DownloadDialog.h"
#include "DownloadItem.h"
#include "DownloadManager.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"

#include <QtTest>
#include <QtWebEngineWidgets>

using namespace Qt::StringLiterals;

// A real engine download of 200000 bytes from a loopback server into a fresh folder, shown
// in a dialog; only `firstPart` is sent, the rest never comes.
struct EngineDownload {
    TempDataDir dir;
    TestHttpServer server;
    DownloadManager manager;
    DownloadDialog dialog{&manager};
    QWebEngineView view;
    QMetaObject::Connection hook;
    DownloadItem *item = nullptr;
    bool arrived = false; // the first part, within the time allowed

    EngineDownload(const QString &file, qint64 firstPart)
    {
        server.route('/' + file.toUtf8(), [=](const TestHttpServer::Request &) {
            const QByteArray disposition = "attachment; filename=\"" + file.toUtf8() + '"';
            return TestHttpServer::Response{200, "application/octet-stream", QByteArray(200000, 'z'),
                                            {{"Content-Disposition", disposition}}, 0, firstPart};
        });
        QWebEngineProfile *profile = QWebEngineProfile::defaultProfile();
        profile->setDownloadPath(dir.downloadDir());
        hook = QObject::connect(profile, &QWebEngineProfile::downloadRequested, &manager,
                                [this](QWebEngineDownloadRequest *request) { manager.addDownload(request); });
        if (server.listen())
            view.load(server.url(u'/' + file));
        if (QTest::qWaitFor([this] { return manager.downloadCount() == 1; }, 30000))
            item = manager.downloadAt(0);
        arrived = item && QTest::qWaitFor([&] { return item->bytesReceived() == firstPart; }, 20000);
    }
    ~EngineDownload() { QObject::disconnect(hook); }
    QString ending() const { return dialog.table()->item(0, 3)->text() + u'|' + dialog.table()->item(0, 4)->text(); }
};

class TestDownloads : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The engine may announce its missing GPU late, from its own thread.
    void init() { QTest::failOnWarning(QRegularExpression(u"^(?!No suitable graphics backend|WebEngineContext used before).*"_s)); }

    // Times in ms after the start.
    void speedArithmetic_data()
    {
        QTest::addColumn<QList<qint64>>("in"); // received, now, sampleTime, sampleBytes, speed
        QTest::addColumn<QList<qint64>>("out"); // speed, sampleTime, sampleBytes
        QTest::newRow("first report: average since start") << QList<qint64>{40000, 400, 0, 0, 0} << QList<qint64>{99750, 0, 0};
        QTest::newRow("5 MB over 2500 ms") << QList<qint64>{6000000, 3500, 1000, 1000000, 7} << QList<qint64>{2000000, 3500, 6000000};
        QTest::newRow("same millisecond") << QList<qint64>{10, 0, 0, 0, 0} << QList<qint64>{0, 0, 0};
    }
    void speedArithmetic()
    {
        QFETCH(QList<qint64>, in);
        const qint64 t0 = 1700000000000;
        const auto s = DownloadItem::nextSpeed(in[0], t0 + in[1], t0, t0 + in[2], in[3], in[4]);
        QTEST((QList<qint64>{s.speed, s.sampleTime - t0, s.sampleBytes}), "out");
    }

    void historyIsCappedNewestFirst()
    {
        TempDataDir dir;
        DownloadManager manager;
        for (int i = 0; i < DownloadManager::maxHistory + 1; ++i) {
            manager.addDownload(QUrl(u"http://127.0.0.1/f%1"_s.arg(i)), u"f%1"_s.arg(i));
            manager.downloadAt(i)->onFinished();
        }
        const QJsonArray stored = QJsonDocument::fromJson(dir.readFile(u"downloads.json"_s)).array();
        QCOMPARE(stored.size(), DownloadManager::maxHistory);
        QCOMPARE(stored.first().toObject().value(u"filename"_s).toString(), u"f100"_s);
        QCOMPARE(stored.last().toObject().value(u"filename"_s).toString(), u"f1"_s);
        QCOMPARE(DownloadManager().getDownloadHistory(), stored);
    }

    // Through the dialog's buttons, down to the engine's request.
    void pauseResumeCancelOfARunningDownload()
    {
        EngineDownload e(u"movie.mp4"_s, 50000);
        QVERIFY(e.arrived);
        QTRY_COMPARE(qobject_cast<QProgressBar *>(e.dialog.table()->cellWidget(0, 1))->value(), 25);
        e.dialog.table()->selectRow(0);
        QTest::mouseClick(e.dialog.pauseButton(), Qt::LeftButton);
        QCOMPARE(e.dialog.table()->item(0, 3)->text(), u"Paused"_s);
        QTRY_VERIFY(e.item->request()->isPaused());
        QTest::mouseClick(e.dialog.pauseButton(), Qt::LeftButton);
        QTRY_VERIFY(!e.item->request()->isPaused());
        QTest::mouseClick(e.dialog.cancelButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!e.item->request() || e.item->request()->isFinished(), 20000);
        // The engine's end notification must not turn it into a completed one.
        QCOMPARE(e.item->endState(), DownloadItem::EndState::Cancelled);
        QCOMPARE(e.ending(), u"Cancelled|"_s);
        QVERIFY(!QFile::exists(e.item->path()));
    }

    void interruptedDownloadIsReportedAsFailed()
    {
        EngineDownload e(u"cut.bin"_s, 20000);
        QVERIFY(e.arrived);
        e.server.removeRoute("/cut.bin"); // gone, so the engine cannot resume it
        e.server.abortConnections();
        QTRY_COMPARE_WITH_TIMEOUT(e.item->endState(), DownloadItem::EndState::Failed, 20000);
        // The engine's retry announces the same download again: still one item and row.
        QCOMPARE(e.manager.downloadCount(), 1);
        QCOMPARE(e.dialog.table()->rowCount(), 1);
        QCOMPARE(e.ending(), u"Failed|"_s);
    }
};

QTEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
