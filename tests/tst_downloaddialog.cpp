#include "DownloadDialog.h"
#include "DownloadItem.h"
#include "DownloadManager.h"
#include "StallingDownloadServer.h"
#include "TempDataDir.h"

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
    // Status and action of one row.
    static QString ending(DownloadDialog &dialog, int r) { return cell(dialog, r, 3) + u'|' + cell(dialog, r, 4); }

private Q_SLOTS:
    void initTestCase()
    {
        // The engine's one-time start-up warnings are not under test.
        QWebEngineView view;
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        view.setHtml(u"<p>start</p>"_s);
        QVERIFY(loaded.wait(30000));
    }
    void init()
    {
        // Offscreen notes each message box; the engine may report its missing GPU late.
        QTest::failOnWarning(QRegularExpression(QStringLiteral(R"re(^(?!This plugin does not support propagateSizeHints\(\)$|No suitable graphics backend|WebEngineContext used before))re")));
    }

    void speedText_data()
    {
        QTest::addColumn<qint64>("speed");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << u"\u2014"_s;
        QTest::newRow("1023") << qint64(1023) << u"1023 B/s"_s;
        QTest::newRow("1024") << qint64(1024) << u"1.0 KB/s"_s;
        QTest::newRow("just under 1 MB") << qint64(1048575) << u"1024.0 KB/s"_s;
        QTest::newRow("1.5 MB") << qint64(1572864) << u"1.5 MB/s"_s;
        QTest::newRow("3 GB") << qint64(3221225472) << u"3072.0 MB/s"_s;
    }
    void speedText()
    {
        QFETCH(qint64, speed);
        QTEST(DownloadDialog::speedText(speed), "text");
    }

    void pauseResumeAndCancelARealDownload()
    {
        EngineDownloads e;
        StallingDownloadServer server(QByteArray(100000, 'd'), 30000);
        QVERIFY(server.listen());
        e.view.load(server.url(u"movie.mp4"_s));
        QTRY_COMPARE_WITH_TIMEOUT(e.dialog.table()->rowCount(), 1, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(bar(e.dialog, 0)->value(), 30, 20000);
        e.dialog.table()->selectRow(0);
        for (const QString &expected : {u"Paused|Resume"_s, u"Downloading...|Pause"_s}) {
            QTest::mouseClick(e.dialog.pauseButton(), Qt::LeftButton);
            QCOMPARE(cell(e.dialog, 0, 3) + u'|' + e.dialog.pauseButton()->text(), expected);
        }
        QTest::mouseClick(e.dialog.cancelButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(e.finished.count(), 1, 20000);
        // The end notification must not turn a cancelled download into a completed one.
        QCOMPARE(ending(e.dialog, 0), u"Cancelled|"_s);
        QVERIFY(!e.dialog.cancelButton()->isEnabled());
    }
};

QTEST_MAIN(TestDownloadDialog)
#include "tst_downloaddialog.moc"
