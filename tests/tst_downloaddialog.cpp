#include "DownloadDialog.h"
#include "DownloadItem.h"
#include "DownloadManager.h"
#include "ModalDriver.h"
#include "StallingDownloadServer.h"
#include "TempDataDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QtTest>

using namespace Qt::StringLiterals;

// Real engine downloads into a fresh folder, shown in a dialog.
struct EngineDownloads {
    TempDataDir dir;
    DownloadManager manager;
    DownloadDialog dialog{&manager};
    QSignalSpy finished{&manager, &DownloadManager::downloadFinished};
    QWebEngineView view;
    QMetaObject::Connection hook;

    EngineDownloads()
    {
        QWebEngineProfile *profile = QWebEngineProfile::defaultProfile();
        profile->setDownloadPath(dir.downloadDir());
        hook = QObject::connect(profile, &QWebEngineProfile::downloadRequested, &manager,
                                qOverload<QWebEngineDownloadRequest *>(&DownloadManager::addDownload));
    }
    ~EngineDownloads() { QObject::disconnect(hook); }
};

class TestDownloadDialog : public QObject
{
    Q_OBJECT

    static QString cell(DownloadDialog &dialog, int row, int column)
    {
        QTableWidgetItem *item = dialog.table()->item(row, column);
        return item ? item->text() : u"<none>"_s;
    }
    static QProgressBar *bar(DownloadDialog &dialog, int row)
    {
        return qobject_cast<QProgressBar *>(dialog.table()->cellWidget(row, 1));
    }
    // Name, progress text, speed, status and action of one row.
    static QString row(DownloadDialog &dialog, int r)
    {
        return QStringList{cell(dialog, r, 0), bar(dialog, r)->format(), cell(dialog, r, 2), cell(dialog, r, 3), cell(dialog, r, 4)}
            .join(u'|');
    }
    static DownloadItem *addItem(DownloadManager &manager, const QString &name)
    {
        manager.addDownload(QUrl(u"http://127.0.0.1/"_s + name), name);
        return manager.downloadAt(manager.downloadCount() - 1);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The engine's one-time start-up warnings are not under test.
        QWebEngineView view;
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        view.setHtml(u"<p>start</p>"_s);
        QVERIFY(loaded.wait(30000));
    }
    // Every warning fails, except the offscreen platform's note on each message box.
    void init()
    {
        // The engine may announce its missing GPU late, from its own thread.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(R"re(^(?!This plugin does not support propagateSizeHints\(\)$|No suitable graphics backend|WebEngineContext used before))re")));
    }

    void speedText_data()
    {
        QTest::addColumn<qint64>("speed");
        QTest::addColumn<QString>("text");
        QTest::newRow("negative") << qint64(-5) << u"\u2014"_s;
        QTest::newRow("zero") << qint64(0) << u"\u2014"_s;
        QTest::newRow("one byte") << qint64(1) << u"1 B/s"_s;
        QTest::newRow("1023") << qint64(1023) << u"1023 B/s"_s;
        QTest::newRow("1024") << qint64(1024) << u"1.0 KB/s"_s;
        QTest::newRow("just under 1 MB") << qint64(1048575) << u"1024.0 KB/s"_s;
        QTest::newRow("1 MB") << qint64(1048576) << u"1.0 MB/s"_s;
        QTest::newRow("1.5 MB") << qint64(1572864) << u"1.5 MB/s"_s;
        QTest::newRow("3 GB") << qint64(3221225472) << u"3072.0 MB/s"_s;
    }
    void speedText()
    {
        QFETCH(qint64, speed);
        QTEST(DownloadDialog::speedText(speed), "text");
    }

    void listsEarlierDownloadsAndFollowsNewOnes()
    {
        TempDataDir dir;
        DownloadManager manager;
        DownloadItem *done = addItem(manager, u"done.zip"_s);
        done->onDownloadProgress(1000, 1000);
        done->onFinished();
        addItem(manager, u"running.iso"_s)->onDownloadProgress(500, 1000);

        DownloadDialog dialog(&manager);
        QCOMPARE(dialog.table()->rowCount(), 2);
        QCOMPARE(row(dialog, 0), u"done.zip|100%|\u2014|Completed|Open \u2197"_s);
        QCOMPARE(row(dialog, 1).section(u'|', 0, 1), u"running.iso|50%"_s);
        QCOMPARE(row(dialog, 1).section(u'|', 3), u"Downloading...|"_s);

        DownloadItem *later = addItem(manager, u"later.bin"_s);
        QCOMPARE(dialog.table()->rowCount(), 3);
        later->onDownloadProgress(421, 1000);
        QCOMPARE(bar(dialog, 2)->value(), 42);
        QCOMPARE(row(dialog, 2).section(u'|', 0, 1), u"later.bin|42%"_s);
        later->onDownloadProgress(10, -1); // unknown size
        QCOMPARE(row(dialog, 2), u"later.bin|0%|"_s + DownloadDialog::speedText(later->speed()) + u"|Downloading...|"_s);
        later->onFinished();
        QCOMPARE(row(dialog, 2).section(u'|', 2), u"\u2014|Completed|Open \u2197"_s);
    }

    // Pause and cancel only for a download still running; open only a completed one.
    void actionsFollowTheState()
    {
        TempDataDir dir;
        DownloadManager manager;
        manager.setDefaultDownloadPath(dir.downloadDir());
        addItem(manager, u"a"_s)->onFinished();
        DownloadItem *running = addItem(manager, u"b"_s);
        DownloadDialog dialog(&manager);
        QList<QUrl> opened;
        dialog.setUrlOpener([&opened](const QUrl &url) { opened.append(url); return true; });
        QVERIFY(!dialog.pauseButton()->isEnabled());
        QVERIFY(!dialog.cancelButton()->isEnabled());
        for (int row : {1, 0}) {
            dialog.table()->selectRow(row);
            QCOMPARE(dialog.pauseButton()->isEnabled(), row == 1);
            QCOMPARE(dialog.cancelButton()->isEnabled(), row == 1);
        }
        dialog.table()->clearSelection();
        QVERIFY(!dialog.pauseButton()->isEnabled());

        dialog.onActionClick(1, 4); // still running
        dialog.onActionClick(0, 3); // not the action column
        dialog.onActionClick(7, 4); // no such row
        QVERIFY(opened.isEmpty());
        running->onFinished();
        dialog.onActionClick(1, 4);
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(running->path())});
        QTest::mouseClick(dialog.openFolderButton(), Qt::LeftButton);
        QCOMPARE(opened.last(), QUrl::fromLocalFile(dir.downloadDir()));
    }

    void clearHistoryAsksFirst_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("cleared");
        QTest::newRow("yes") << int(QMessageBox::Yes) << true;
        QTest::newRow("no") << int(QMessageBox::No) << false;
    }
    void clearHistoryAsksFirst()
    {
        QFETCH(int, answer);
        QFETCH(bool, cleared);
        TempDataDir dir;
        DownloadManager manager;
        addItem(manager, u"a"_s)->onFinished();
        DownloadDialog dialog(&manager);
        ModalDriver driver;
        driver.enqueueButton(QMessageBox::StandardButton(answer));
        QTest::mouseClick(dialog.clearHistoryButton(), Qt::LeftButton);
        QVERIFY(driver.allAnswered());
        QCOMPARE(driver.seen().size(), 1);
        QCOMPARE(manager.getDownloadHistory().isEmpty(), cleared);
        QCOMPARE(QJsonDocument::fromJson(dir.readFile(u"downloads.json"_s)).array().isEmpty(), cleared);
        QCOMPARE(dialog.table()->rowCount(), 1);
    }

    void pauseResumeAndCancelARealDownload()
    {
        EngineDownloads e;
        StallingDownloadServer server(QByteArray(100000, 'd'), 30000);
        QVERIFY(server.listen());
        e.view.load(server.url(u"movie.mp4"_s));
        QTRY_COMPARE_WITH_TIMEOUT(e.dialog.table()->rowCount(), 1, 30000);
        QCOMPARE(cell(e.dialog, 0, 0), u"movie.mp4"_s);
        QTRY_COMPARE_WITH_TIMEOUT(bar(e.dialog, 0)->value(), 30, 20000);

        e.dialog.table()->selectRow(0);
        for (const QString &expected : {u"Paused|Resume"_s, u"Downloading...|Pause"_s}) {
            QTest::mouseClick(e.dialog.pauseButton(), Qt::LeftButton);
            QCOMPARE(cell(e.dialog, 0, 3) + u'|' + e.dialog.pauseButton()->text(), expected);
        }
        QTest::mouseClick(e.dialog.cancelButton(), Qt::LeftButton);
        QCOMPARE(cell(e.dialog, 0, 3), u"Cancelled"_s);
        QTRY_COMPARE_WITH_TIMEOUT(e.finished.count(), 1, 20000);
        // The end notification must not turn a cancelled download into a completed one.
        QCOMPARE(row(e.dialog, 0).section(u'|', 3), u"Cancelled|"_s);
        QVERIFY(!e.dialog.cancelButton()->isEnabled());
    }

    void completedAndFailedDownloadsAreToldApart()
    {
        EngineDownloads e;
        StallingDownloadServer whole(QByteArray(4096, 'w'), 4096);
        StallingDownloadServer cut(QByteArray(100000, 'c'), 10000);
        QVERIFY(whole.listen());
        QVERIFY(cut.listen());
        e.view.load(whole.url(u"small.txt"_s));
        QTRY_COMPARE_WITH_TIMEOUT(e.finished.count(), 1, 30000);
        QCOMPARE(row(e.dialog, 0).section(u'|', 3), u"Completed|Open \u2197"_s);

        e.view.load(cut.url(u"big.bin"_s));
        QTRY_COMPARE_WITH_TIMEOUT(e.dialog.table()->rowCount(), 2, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(bar(e.dialog, 1)->value(), 10, 20000);
        cut.abortAll();
        QTRY_COMPARE_WITH_TIMEOUT(e.finished.count(), 2, 30000);
        QCOMPARE(row(e.dialog, 1).section(u'|', 3), u"Failed|"_s);
    }
};

QTEST_MAIN(TestDownloadDialog)
#include "tst_downloaddialog.moc"
