#include "ModalAnswerer.h"
#include "PrivacyDashboard.h"
#include "PrivacyEngine.h"
#include "RequestInterceptor.h"

#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;
using Verdict = RequestInterceptor::Verdict;

static QGroupBox *group(QWidget *dialog, const QString &title)
{
    for (QGroupBox *box : dialog->findChildren<QGroupBox *>()) {
        if (box->title() == title)
            return box;
    }
    return nullptr;
}

// The values of the statistics grid: ads, trackers, cookies, requests, domains.
static QStringList stats(QWidget *dialog)
{
    QStringList out;
    auto *grid = qobject_cast<QGridLayout *>(group(dialog, u"Privacy Statistics"_s)->layout());
    for (int row = 0; row < grid->rowCount(); ++row)
        out << qobject_cast<QLabel *>(grid->itemAtPosition(row, 1)->widget())->text();
    return out;
}

class TestPrivacyDashboard : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void showsStatisticsAndProtectionsAndFollowsThem()
    {
        PrivacyEngine engine;
        engine.interceptor()->countBlocked(Verdict::BlockAd, QUrl(u"https://ad.doubleclick.net/x"_s));
        engine.interceptor()->countBlocked(Verdict::BlockAd, QUrl(u"https://ad.doubleclick.net/y"_s));
        engine.interceptor()->countBlocked(Verdict::BlockTracker, QUrl(u"https://static.hotjar.com/z"_s));
        PrivacyDashboard dialog(&engine);
        QCOMPARE(stats(&dialog), QStringList({"2", "1", "0", "3", "2"}));
        auto *table = dialog.findChild<QTableWidget *>();
        QCOMPARE(table->item(1, 0)->text(), u"static.hotjar.com"_s);

        // New blocks and switches show up while the dialog stays open, within the refresh period.
        dialog.show();
        engine.interceptor()->countBlocked(Verdict::BlockTracker, QUrl(u"https://cdn.segment.io/a.js"_s));
        engine.setTrackingProtection(false);
        engine.setCookieBlocking(false);
        QTRY_COMPARE_WITH_TIMEOUT(stats(&dialog), QStringList({"2", "2", "0", "4", "3"}), PrivacyDashboard::RefreshIntervalMs + 500);
        QCOMPARE(table->rowCount(), 3);
        QStringList protections;
        for (QLabel *label : group(&dialog, u"Active Protections"_s)->findChildren<QLabel *>())
            protections << label->text();
        QCOMPARE(protections,
                 QStringList({"✅ Ad Blocking: ON", "❌ Tracking Protection: OFF", "✅ Fingerprint Protection: ON",
                              "❌ Cookie Blocking: OFF"}));
    }

    void resetAsksFirst_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("expectedAds");
        QTest::newRow("No keeps everything") << "No" << 1;
        QTest::newRow("Yes clears everything") << "Yes" << 0;
    }
    void resetAsksFirst()
    {
        QFETCH(QString, answer);
        QFETCH(int, expectedAds);
        PrivacyEngine engine;
        engine.interceptor()->countBlocked(Verdict::BlockAd, QUrl(u"https://criteo.com/x"_s));
        PrivacyDashboard dialog(&engine);
        dialog.show();
        // The offscreen platform's note when the question box is shown.
        QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
        ModalAnswerer question({answer});
        dialog.findChild<QPushButton *>(u"resetStatsButton"_s)->click();
        QCOMPARE(question.seen().size(), 1);
        QCOMPARE(stats(&dialog).value(0), QString::number(expectedAds));
        QCOMPARE(engine.getPrivacyStats().value("adsBlocked").toInt(), expectedAds);
    }

    // The tab may close while the dialog is open.
    void survivesItsEngine()
    {
        auto *engine = new PrivacyEngine;
        PrivacyDashboard dialog(engine);
        delete engine;
        dialog.updateStats();
        QCOMPARE(stats(&dialog).value(0), u"0"_s);
    }
};

QTEST_MAIN(TestPrivacyDashboard)
#include "tst_privacydashboard.moc"
