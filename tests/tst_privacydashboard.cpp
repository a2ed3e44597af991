#include "PrivacyDashboard.h"
#include "PrivacyEngine.h"
#include "RequestInterceptor.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

using Verdict = RequestInterceptor::Verdict;

namespace {

QGroupBox *group(QWidget *dialog, const QString &title)
{
    const auto boxes = dialog->findChildren<QGroupBox *>();
    for (QGroupBox *box : boxes) {
        if (box->title() == title)
            return box;
    }
    return nullptr;
}

// Value of row `row` of the statistics grid.
QString statValue(QWidget *dialog, int row)
{
    QGroupBox *box = group(dialog, QStringLiteral("Privacy Statistics"));
    auto *grid = box ? qobject_cast<QGridLayout *>(box->layout()) : nullptr;
    QLayoutItem *item = grid ? grid->itemAtPosition(row, 1) : nullptr;
    auto *label = item ? qobject_cast<QLabel *>(item->widget()) : nullptr;
    return label ? label->text() : QStringLiteral("<missing>");
}

QStringList protectionTexts(QWidget *dialog)
{
    QStringList texts;
    QGroupBox *box = group(dialog, QStringLiteral("Active Protections"));
    for (int i = 0; box && i < box->layout()->count(); ++i) {
        if (auto *label = qobject_cast<QLabel *>(box->layout()->itemAt(i)->widget()))
            texts.append(label->text());
    }
    return texts;
}

// Answers the next message box with `button`, remembering its title and text.
void answerNextMessageBox(QMessageBox::StandardButton button, QStringList *seen)
{
    auto *poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, button, seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        *seen << box->windowTitle() << box->text();
        poll->deleteLater();
        box->button(button)->click();
    });
    poll->start(10);
}

} // namespace

class TestPrivacyDashboard : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void showsStatisticsAndFollowsThem()
    {
        PrivacyEngine engine;
        engine.interceptor()->countBlocked(Verdict::BlockAd, QUrl("https://ad.doubleclick.net/x"));
        engine.interceptor()->countBlocked(Verdict::BlockAd, QUrl("https://ad.doubleclick.net/y"));
        engine.interceptor()->countBlocked(Verdict::BlockTracker, QUrl("https://static.hotjar.com/z"));

        PrivacyDashboard dialog(&engine);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Privacy Dashboard"));
        QCOMPARE(dialog.minimumSize(), QSize(700, 600));
        const QStringList initial{statValue(&dialog, 0), statValue(&dialog, 1), statValue(&dialog, 2),
                                  statValue(&dialog, 3), statValue(&dialog, 4)};
        QCOMPARE(initial, QStringList({"2", "1", "0", "3", "2"}));
        auto *table = dialog.findChild<QTableWidget *>();
        QVERIFY(table);
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("ad.doubleclick.net"));
        QCOMPARE(table->item(1, 0)->text(), QStringLiteral("static.hotjar.com"));

        // New blocks show up while the dialog stays open, within the refresh period.
        dialog.show();
        engine.interceptor()->countBlocked(Verdict::BlockTracker, QUrl("https://cdn.segment.io/a.js"));
        QTRY_COMPARE_WITH_TIMEOUT(statValue(&dialog, 1), QStringLiteral("2"),
                                  PrivacyDashboard::RefreshIntervalMs + 500);
        QCOMPARE(statValue(&dialog, 3), QStringLiteral("4"));
        QCOMPARE(statValue(&dialog, 4), QStringLiteral("3"));
        QCOMPARE(table->rowCount(), 3);
    }

    void protectionLabelsFollowTheSwitches()
    {
        PrivacyEngine engine;
        PrivacyDashboard dialog(&engine);
        QCOMPARE(protectionTexts(&dialog),
                 QStringList({"✅ Ad Blocking: ON", "✅ Tracking Protection: ON",
                              "✅ Fingerprint Protection: ON", "✅ Cookie Blocking: ON"}));
        engine.setTrackingProtection(false);
        engine.setCookieBlocking(false);
        dialog.updateStats();
        QCOMPARE(protectionTexts(&dialog),
                 QStringList({"✅ Ad Blocking: ON", "❌ Tracking Protection: OFF",
                              "✅ Fingerprint Protection: ON", "❌ Cookie Blocking: OFF"}));
    }

    void resetAsksFirst_data()
    {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<QString>("expectedAds");
        QTest::newRow("No keeps everything") << QMessageBox::No << "1";
        QTest::newRow("Yes clears everything") << QMessageBox::Yes << "0";
    }
    void resetAsksFirst()
    {
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(QString, expectedAds);
        PrivacyEngine engine;
        engine.interceptor()->countBlocked(Verdict::BlockAd, QUrl("https://criteo.com/x"));
        PrivacyDashboard dialog(&engine);
        dialog.show();
        // The offscreen platform's note when the question box is shown.
        QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
        QStringList seen;
        answerNextMessageBox(answer, &seen);
        auto *reset = dialog.findChild<QPushButton *>(QStringLiteral("resetStatsButton"));
        QVERIFY(reset);
        QCOMPARE(reset->text(), QStringLiteral("🔄 Reset Stats"));
        reset->click();
        QCOMPARE(seen, QStringList({"Reset Stats", "Are you sure you want to reset all privacy statistics?"}));
        QCOMPARE(statValue(&dialog, 0), expectedAds);
        QCOMPARE(statValue(&dialog, 3), expectedAds);
        QCOMPARE(engine.getPrivacyStats().value("adsBlocked").toInt(), expectedAds.toInt());
        QCOMPARE(dialog.findChild<QTableWidget *>()->rowCount(), expectedAds.toInt());
    }

    void survivesItsEngine()
    {
        auto *engine = new PrivacyEngine;
        PrivacyDashboard dialog(engine);
        delete engine;
        dialog.updateStats(); // the tab may close while the dialog is open
        QCOMPARE(statValue(&dialog, 0), QStringLiteral("0"));
    }
};

QTEST_MAIN(TestPrivacyDashboard)
#include "tst_privacydashboard.moc"
