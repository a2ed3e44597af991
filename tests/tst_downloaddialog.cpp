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
        return item ? item->text() : QStringLiteral("<none>");
    }
    static QProgressBar *bar(DownloadDialog &dialog, int row)
    {
        return qobject_cast<QProgressBar *>(dialog.table()->cellWidget(row, 1));
    }
    static DownloadItem *addItem(DownloadManager &manager, const QString &name)
    {
        manager.addDownload(QUrl(QStringLiteral("http://127.0.0.1/") + name), name);
        return manager.downloadAt(manager.downloadCount() - 1);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The engine's one-time start-up warnings are not under test.
        QWebEngineView view;
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        view.setHtml(QStringLiteral("<p>start</p>"));
        QVERIFY(loaded.wait(30000));
    }
    // Every warning fails, except the offscreen platform's note on each message box.
    void init()
    {
        QTest::failOnWarning(QRegularExpression(
            QStringLiteral("^(?!This plugin does not support propagateSizeHints\\(\\)$)")));
    }

    void speedText_data()
    {
        QTest::addColumn<qint64>("speed");
        QTest::addColumn<QString>("text");
        QTest::newRow("negative") << qint64(-5) << QStringLiteral("\u2014");
        QTest::newRow("zero") << qint64(0) << QStringLiteral("\u2014");
        QTest::newRow("one byte") << qint64(1) << QStringLiteral("1 B/s");
        QTest::newRow("1023") << qint64(1023) << QStringLiteral("1023 B/s");
        QTest::newRow("1024") << qint64(1024) << QStringLiteral("1.0 KB/s");
        QTest::newRow("just under 1 MB") << qint64(1048575) << QStringLiteral("1024.0 KB/s");
        QTest::newRow("1 MB") << qint64(1048576) << QStringLiteral("1.0 MB/s");
        QTest::newRow("1.5 MB") << qint64(1572864) << QStringLiteral("1.5 MB/s");
        QTest::newRow("3 GB") << qint64(3221225472) << QStringLiteral("3072.0 MB/s");
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
        DownloadItem *done = addItem(manager, QStringLiteral("done.zip"));
        done->onDownloadProgress(1000, 1000);
        done->onFinished();
        addItem(manager, QStringLiteral("running.iso"))->onDownloadProgress(500, 1000);

        DownloadDialog dialog(&manager);
        QCOMPARE(dialog.table()->rowCount(), 2);
        QCOMPARE(cell(dialog, 0, 0), QStringLiteral("done.zip"));
        QCOMPARE(cell(dialog, 0, 2), QStringLiteral("\u2014"));
        QCOMPARE(cell(dialog, 0, 3), QStringLiteral("Completed"));
        QCOMPARE(cell(dialog, 0, 4), QStringLiteral("Open \u2197"));
        QCOMPARE(bar(dialog, 0)->format(), QStringLiteral("100%"));
        QCOMPARE(cell(dialog, 1, 3), QStringLiteral("Downloading..."));
        QCOMPARE(cell(dialog, 1, 4), QString());
        QCOMPARE(bar(dialog, 1)->value(), 50);

        DownloadItem *later = addItem(manager, QStringLiteral("later.bin"));
        QCOMPARE(dialog.table()->rowCount(), 3);
        QCOMPARE(cell(dialog, 2, 0), QStringLiteral("later.bin"));
        later->onDownloadProgress(421, 1000);
        QCOMPARE(bar(dialog, 2)->value(), 42);
        QCOMPARE(bar(dialog, 2)->format(), QStringLiteral("42%"));
        later->onDownloadProgress(10, -1); // unknown size
        QCOMPARE(bar(dialog, 2)->format(), QStringLiteral("0%"));
        QCOMPARE(cell(dialog, 2, 2), DownloadDialog::speedText(later->speed()));
        later->onFinished();
        QCOMPARE(cell(dialog, 2, 3), QStringLiteral("Completed"));
        QCOMPARE(cell(dialog, 2, 2), QStringLiteral("\u2014"));
    }

    // Pause and cancel only for a download still running; open only a completed one.
    void actionsFollowTheState()
    {
        TempDataDir dir;
        DownloadManager manager;
        manager.setDefaultDownloadPath(dir.downloadDir());
        addItem(manager, QStringLiteral("a"))->onFinished();
        DownloadItem *running = addItem(manager, QStringLiteral("b"));
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
        addItem(manager, QStringLiteral("a"))->onFinished();
        DownloadDialog dialog(&manager);
        ModalDriver driver;
        driver.enqueueButton(QMessageBox::StandardButton(answer));
        QTest::mouseClick(dialog.clearHistoryButton(), Qt::LeftButton);
        QVERIFY(driver.allAnswered());
        QCOMPARE(driver.seen().size(), 1);
        QCOMPARE(manager.getDownloadHistory().isEmpty(), cleared);
        QCOMPARE(QJsonDocument::fromJson(dir.readFile(QStringLiteral("downloads.json"))).array().isEmpty(), cleared);
        QCOMPARE(dialog.table()->rowCount(), 1);
    }

    void pauseResumeAndCancelARealDownload()
    {
        EngineDownloads e;
        StallingDownloadServer server(QByteArray(100000, 'd'), 30000);
        QVERIFY(server.listen());
        e.view.load(server.url(QStringLiteral("movie.mp4")));
        QTRY_COMPARE_WITH_TIMEOUT(e.dialog.table()->rowCount(), 1, 30000);
        QCOMPARE(cell(e.dialog, 0, 0), QStringLiteral("movie.mp4"));
        QTRY_COMPARE_WITH_TIMEOUT(bar(e.dialog, 0)->value(), 30, 20000);

        e.dialog.table()->selectRow(0);
        QTest::mouseClick(e.dialog.pauseButton(), Qt::LeftButton);
        QCOMPARE(cell(e.dialog, 0, 3), QStringLiteral("Paused"));
        QCOMPARE(e.dialog.pauseButton()->text(), QStringLiteral("Resume"));
        QTest::mouseClick(e.dialog.pauseButton(), Qt::LeftButton);
        QCOMPARE(cell(e.dialog, 0, 3), QStringLiteral("Downloading..."));
        QCOMPARE(e.dialog.pauseButton()->text(), QStringLiteral("Pause"));

        QTest::mouseClick(e.dialog.cancelButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(e.finished.count(), 1, 20000);
        // The end notification must not turn a cancelled download into a completed one.
        QCOMPARE(cell(e.dialog, 0, 3), QStringLiteral("Cancelled"));
        QCOMPARE(cell(e.dialog, 0, 4), QString());
        QVERIFY(!e.dialog.cancelButton()->isEnabled());
    }

    void completedAndFailedDownloadsAreToldApart()
    {
        EngineDownloads e;
        StallingDownloadServer whole(QByteArray(4096, 'w'), 4096);
        StallingDownloadServer cut(QByteArray(100000, 'c'), 10000);
        QVERIFY(whole.listen());
        QVERIFY(cut.listen());
        e.view.load(whole.url(QStringLiteral("small.txt")));
        QTRY_COMPARE_WITH_TIMEOUT(e.finished.count(), 1, 30000);
        QCOMPARE(cell(e.dialog, 0, 3), QStringLiteral("Completed"));
        QCOMPARE(cell(e.dialog, 0, 4), QStringLiteral("Open \u2197"));

        e.view.load(cut.url(QStringLiteral("big.bin")));
        QTRY_COMPARE_WITH_TIMEOUT(e.dialog.table()->rowCount(), 2, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(bar(e.dialog, 1)->value(), 10, 20000);
        cut.abortAll();
        QTRY_COMPARE_WITH_TIMEOUT(e.finished.count(), 2, 30000);
        QCOMPARE(cell(e.dialog, 1, 3), QStringLiteral("Failed"));
        QCOMPARE(cell(e.dialog, 1, 4), QString());
    }
};

QTEST_MAIN(TestDownloadDialog)
#include "tst_downloaddialog.moc"
