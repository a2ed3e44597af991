#include "ModalDriver.h"
#include "PrivacyDashboard.h"
#include "PrivacyEngine.h"
#include "RequestInterceptor.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

using Verdict = RequestInterceptor::Verdict;

static QLayout *groupLayout(QWidget *dialog, const QString &title)
{
    for (QGroupBox *box : dialog->findChildren<QGroupBox *>()) {
        if (box->title() == title)
            return box->layout();
    }
    return nullptr;
}

// The values of the statistics grid: ads, trackers, cookies, requests, domains.
static QStringList stats(QWidget *dialog)
{
    QStringList out;
    auto *grid = qobject_cast<QGridLayout *>(groupLayout(dialog, QStringLiteral("Privacy Statistics")));
    for (int row = 0; grid && row < grid->rowCount(); ++row)
        out.append(qobject_cast<QLabel *>(grid->itemAtPosition(row, 1)->widget())->text());
    return out;
}

static QStringList protectionTexts(QWidget *dialog)
{
    QStringList texts;
    QLayout *layout = groupLayout(dialog, QStringLiteral("Active Protections"));
    for (int i = 0; layout && i < layout->count(); ++i) {
        if (auto *label = qobject_cast<QLabel *>(layout->itemAt(i)->widget()))
            texts.append(label->text());
    }
    return texts;
}

class TestPrivacyDashboard : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void showsStatisticsAndProtectionsAndFollowsThem()
    {
        PrivacyEngine engine;
        engine.interceptor()->countBlocked(Verdict::BlockAd, QUrl("https://ad.doubleclick.net/x"));
        engine.interceptor()->countBlocked(Verdict::BlockAd, QUrl("https://ad.doubleclick.net/y"));
        engine.interceptor()->countBlocked(Verdict::BlockTracker, QUrl("https://static.hotjar.com/z"));
        PrivacyDashboard dialog(&engine);
        QCOMPARE(stats(&dialog), QStringList({"2", "1", "0", "3", "2"}));
        auto *table = dialog.findChild<QTableWidget *>();
        QCOMPARE(table->item(1, 0)->text(), QStringLiteral("static.hotjar.com"));

        // New blocks and switches show up while the dialog stays open, within the refresh period.
        dialog.show();
        engine.interceptor()->countBlocked(Verdict::BlockTracker, QUrl("https://cdn.segment.io/a.js"));
        engine.setTrackingProtection(false);
        engine.setCookieBlocking(false);
        QTRY_COMPARE_WITH_TIMEOUT(stats(&dialog), QStringList({"2", "2", "0", "4", "3"}),
                                  PrivacyDashboard::RefreshIntervalMs + 500);
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(protectionTexts(&dialog),
                 QStringList({"✅ Ad Blocking: ON", "❌ Tracking Protection: OFF",
                              "✅ Fingerprint Protection: ON", "❌ Cookie Blocking: OFF"}));
    }

    void resetAsksFirst_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("expectedAds");
        QTest::newRow("No keeps everything") << int(QMessageBox::No) << 1;
        QTest::newRow("Yes clears everything") << int(QMessageBox::Yes) << 0;
    }
    void resetAsksFirst()
    {
        QFETCH(int, answer);
        QFETCH(int, expectedAds);
        PrivacyEngine engine;
        engine.interceptor()->countBlocked(Verdict::BlockAd, QUrl("https://criteo.com/x"));
        PrivacyDashboard dialog(&engine);
        dialog.show();
        // The offscreen platform's note when the question box is shown.
        QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
        ModalDriver driver;
        driver.enqueueButton(QMessageBox::StandardButton(answer));
        dialog.findChild<QPushButton *>(QStringLiteral("resetStatsButton"))->click();
        QCOMPARE(driver.seen().size(), 1);
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
        QCOMPARE(stats(&dialog).value(0), QStringLiteral("0"));
    }
};

QTEST_MAIN(TestPrivacyDashboard)
#include "tst_privacydashboard.moc"
