#include "DownloadDialog.h"
#include "DownloadItem.h"
#include "DownloadManager.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"

#include <QtTest>
#include <QtWebEngineWidgets>

using namespace Qt::StringLiterals;

// Real engine downloads from a loopback server into a fresh folder, shown in a dialog.
struct EngineDownloads {
    TempDataDir dir;
    TestHttpServer server;
    DownloadManager manager;
    DownloadDialog dialog{&manager};
    QSignalSpy finished{&manager, &DownloadManager::downloadFinished};
    QSignalSpy failed{&manager, &DownloadManager::downloadFailed};
    QWebEngineView view;
    QMetaObject::Connection hook;

    // Serves `body` as an attachment of which only `firstPart` is sent; the rest never comes.
    EngineDownloads(const QString &file, const QByteArray &body, qint64 firstPart)
    {
        server.route('/' + file.toUtf8(), [=](const TestHttpServer::Request &) {
            const QByteArray disposition = "attachment; filename=\"" + file.toUtf8() + '"';
            return TestHttpServer::Response{200, "application/octet-stream", body, {{"Content-Disposition", disposition}}, 0, firstPart};
        });
        QWebEngineProfile *profile = QWebEngineProfile::defaultProfile();
        profile->setDownloadPath(dir.downloadDir());
        hook = QObject::connect(profile, &QWebEngineProfile::downloadRequested, &manager,
                                qOverload<QWebEngineDownloadRequest *>(&DownloadManager::addDownload));
        if (server.listen())
            view.load(server.url(u'/' + file));
    }
    ~EngineDownloads() { QObject::disconnect(hook); }
    // Status and action cells of the dialog's first row.
    QString ending() const { return dialog.table()->item(0, 3)->text() + u'|' + dialog.table()->item(0, 4)->text(); }
    QJsonArray stored() const { return QJsonDocument::fromJson(dir.readFile(u"downloads.json"_s)).array(); }
};

class TestDownloads : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The engine's one-time start-up chatter is not under test; start it before warnings count.
    void initTestCase()
    {
        QWebEngineView view;
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        view.setHtml(u"<p>start</p>"_s);
        QVERIFY(loaded.wait(30000));
    }
    // The engine may announce its missing GPU late, from its own thread.
    void init() { QTest::failOnWarning(QRegularExpression(u"^(?!No suitable graphics backend|WebEngineContext used before).*"_s)); }

    // Times in ms after the start.
    void speedArithmetic_data()
    {
        QTest::addColumn<QList<qint64>>("in"); // received, now, sampleTime, sampleBytes, speed
        QTest::addColumn<QList<qint64>>("out"); // speed, sampleTime, sampleBytes
        QTest::newRow("first report: average since start") << QList<qint64>{40000, 400, 0, 0, 0} << QList<qint64>{99750, 0, 0};
        QTest::newRow("under a second: value kept") << QList<qint64>{70000, 700, 0, 0, 99750} << QList<qint64>{99750, 0, 0};
        QTest::newRow("5 MB over 2500 ms") << QList<qint64>{6000000, 3500, 1000, 1000000, 7} << QList<qint64>{2000000, 3500, 6000000};
        QTest::newRow("stalled: average") << QList<qint64>{500000, 2000, 1000, 500000, 123} << QList<qint64>{249875, 2000, 500000};
        QTest::newRow("same millisecond") << QList<qint64>{10, 0, 0, 0, 0} << QList<qint64>{0, 0, 0};
    }
    void speedArithmetic()
    {
        QFETCH(QList<qint64>, in);
        const qint64 t0 = 1700000000000;
        const auto s = DownloadItem::nextSpeed(in[0], t0 + in[1], t0, t0 + in[2], in[3], in[4]);
        QTEST((QList<qint64>{s.speed, s.sampleTime - t0, s.sampleBytes}), "out");
    }

    void speedText_data()
    {
        QTest::addColumn<qint64>("speed");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << u"\u2014"_s;
        QTest::newRow("1023") << qint64(1023) << u"1023 B/s"_s;
        QTest::newRow("1024") << qint64(1024) << u"1.0 KB/s"_s;
        QTest::newRow("just under 1 MB") << qint64(1048575) << u"1024.0 KB/s"_s;
        QTest::newRow("3 GB") << qint64(3221225472) << u"3072.0 MB/s"_s;
    }
    void speedText()
    {
        QFETCH(qint64, speed);
        QTEST(DownloadDialog::speedText(speed), "text");
    }

    void historyIsCappedNewestFirst()
    {
        TempDataDir dir;
        DownloadManager manager;
        for (int i = 0; i < DownloadManager::maxHistory + 1; ++i) {
            manager.addDownload(QUrl(u"http://127.0.0.1/f%1"_s.arg(i)), u"f%1"_s.arg(i));
            manager.downloadAt(i)->onDownloadProgress(i, i == 1 ? -1 : 1000);
            manager.downloadAt(i)->onFinished();
        }
        const QJsonArray stored = QJsonDocument::fromJson(dir.readFile(u"downloads.json"_s)).array();
        QCOMPARE(stored.size(), DownloadManager::maxHistory);
        QCOMPARE(stored.first().toObject().value(u"filename"_s).toString(), u"f100"_s);
        QCOMPARE(stored.last().toObject().value(u"filename"_s).toString(), u"f1"_s);
        QCOMPARE(stored.last().toObject().value(u"size"_s), QJsonValue(-1));
        QCOMPARE(DownloadManager().getDownloadHistory(), stored);
    }

    void realDownloadLandsOnDisk()
    {
        QByteArray body(300 * 1024, 'x');
        for (int i = 0; i < body.size(); ++i)
            body[i] = char('a' + i % 26);
        EngineDownloads e(u"report.bin"_s, body, body.size());
        QTRY_COMPARE_WITH_TIMEOUT(e.finished.count(), 1, 30000);
        DownloadItem *item = e.manager.downloadAt(0);
        QCOMPARE(item->endState(), DownloadItem::EndState::Completed);
        QCOMPARE(e.ending(), u"Completed|Open \u2197"_s);
        QCOMPARE(item->path(), e.dir.downloadDir() + u"/report.bin"_s);
        QFile file(item->path());
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == body);
        QCOMPARE(e.stored().first().toObject().value(u"path"_s).toString(), item->path());
        QCOMPARE(e.stored().first().toObject().value(u"size"_s).toInteger(), qint64(body.size()));
    }

    // Through the dialog's buttons, down to the engine's request.
    void pauseResumeCancelOfARunningDownload()
    {
        EngineDownloads e(u"movie.mp4"_s, QByteArray(200000, 'z'), 50000);
        QTRY_COMPARE_WITH_TIMEOUT(e.dialog.table()->rowCount(), 1, 30000);
        DownloadItem *item = e.manager.downloadAt(0);
        QTRY_COMPARE_WITH_TIMEOUT(item->bytesReceived(), qint64(50000), 20000);
        QCOMPARE(item->progress(), 0.25);
        QTRY_COMPARE(qobject_cast<QProgressBar *>(e.dialog.table()->cellWidget(0, 1))->value(), 25);
        e.dialog.table()->selectRow(0);
        QTest::mouseClick(e.dialog.pauseButton(), Qt::LeftButton);
        QCOMPARE(e.dialog.table()->item(0, 3)->text() + u'|' + e.dialog.pauseButton()->text(), u"Paused|Resume"_s);
        QTRY_VERIFY(item->request()->isPaused());
        QTest::mouseClick(e.dialog.pauseButton(), Qt::LeftButton);
        QCOMPARE(e.dialog.table()->item(0, 3)->text() + u'|' + e.dialog.pauseButton()->text(), u"Downloading...|Pause"_s);
        QTRY_VERIFY(!item->request()->isPaused());
        QTest::mouseClick(e.dialog.cancelButton(), Qt::LeftButton);
        QCOMPARE(item->endState(), DownloadItem::EndState::Cancelled);
        QTRY_COMPARE_WITH_TIMEOUT(e.finished.count(), 1, 20000);
        // The engine's end notification must not turn it into a completed one.
        QCOMPARE(item->endState(), DownloadItem::EndState::Cancelled);
        QCOMPARE(e.ending(), u"Cancelled|"_s);
        QVERIFY(!e.dialog.cancelButton()->isEnabled());
        QVERIFY(!QFile::exists(item->path()));
    }

    void interruptedDownloadIsReportedAsFailed()
    {
        EngineDownloads e(u"cut.bin"_s, QByteArray(200000, 'q'), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(e.manager.downloadCount(), 1, 30000);
        DownloadItem *item = e.manager.downloadAt(0);
        QTRY_COMPARE_WITH_TIMEOUT(item->bytesReceived(), qint64(20000), 20000);
        e.server.removeRoute("/cut.bin"); // gone, so the engine cannot resume it
        e.server.abortConnections();
        QTRY_COMPARE_WITH_TIMEOUT(e.failed.count(), 1, 20000);
        QCOMPARE(item->endState(), DownloadItem::EndState::Failed);
        // The engine's retry announces the same download again: still one item and row.
        QCOMPARE(e.manager.downloadCount(), 1);
        QCOMPARE(e.dialog.table()->rowCount(), 1);
        QCOMPARE(e.ending(), u"Failed|"_s);
    }
};

QTEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
