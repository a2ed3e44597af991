#include "DataManager.h"
#include "ModalDriver.h"
#include "SearchManager.h"
#include "SettingsDialog.h"
#include "TempDataDir.h"

#include <QComboBox>
#include <QPushButton>
#include <QtTest>

class TestSettingsDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The offscreen platform notes each modal box it shows.
    void init()
    {
        QTest::failOnWarning(QRegularExpression(
            QStringLiteral("^(?!This plugin does not support propagateSizeHints\\(\\)$)")));
    }

    // The default engine is preselected and edited in place; the default
    // follows its new keyword; an emptied answer changes nothing.
    void editDefaultEngine()
    {
        TempDataDir dir;
        DataManager data;
        SearchManager search;
        search.setDefaultEngine(QStringLiteral("ddg"));
        SettingsDialog dialog(&data, nullptr, &search);
        QCOMPARE(dialog.engineBox()->currentData().toString(), QStringLiteral("ddg"));
        const SearchEngine old = search.defaultEngine();
        ModalDriver driver;
        for (const char *a : {"Duck", "duck", "https://duck.example/?q=%s"})
            driver.enqueueText(QString::fromUtf8(a));
        QTest::mouseClick(dialog.editEngineButton(), Qt::LeftButton);
        QCOMPARE(driver.seen().size(), 3);
        QCOMPARE(driver.seen().at(0).initialText, old.name);
        QCOMPARE(driver.seen().at(2).initialText, old.url);
        QStringList keywords;
        for (const SearchEngine &e : search.searchEngines())
            keywords.append(e.keyword);
        QCOMPARE(keywords.indexOf(QStringLiteral("duck")), 1);
        QVERIFY(!keywords.contains(QStringLiteral("ddg")));
        dialog.onSave();
        QCOMPARE(SearchManager().defaultKeyword(), QStringLiteral("duck"));

        for (const char *a : {"X", "", "https://x.example/?q=%s"})
            driver.enqueueText(QString::fromUtf8(a));
        QTest::mouseClick(dialog.editEngineButton(), Qt::LeftButton);
        QVERIFY(driver.allAnswered());
        QCOMPARE(search.defaultEngine().name, QStringLiteral("Duck"));

        SettingsDialog again(&data, nullptr, &search);
        QCOMPARE(again.engineBox()->currentData().toString(), QStringLiteral("duck"));
        again.engineBox()->setCurrentIndex(again.engineBox()->findData(QStringLiteral("bing")));
        again.onSave();
        QCOMPARE(SearchManager().defaultKeyword(), QStringLiteral("bing"));
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
