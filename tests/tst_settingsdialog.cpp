#include "DataManager.h"
#include "ModalDriver.h"
#include "PrivacyEngine.h"
#include "SearchManager.h"
#include "SettingsDialog.h"
#include "TempDataDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QtTest>

class TestSettingsDialog : public QObject
{
    Q_OBJECT

    static QStringList comboEntries(const QComboBox *box)
    {
        QStringList out;
        for (int i = 0; i < box->count(); ++i)
            out.append(box->itemText(i) + QLatin1Char('=') + box->itemData(i).toString());
        return out;
    }
    static QStringList keywords(const SearchManager &search)
    {
        QStringList out;
        for (const SearchEngine &e : search.searchEngines())
            out.append(e.keyword);
        return out;
    }

private Q_SLOTS:
    // Every warning fails, except the offscreen platform's note on each
    // modal box it shows.
    void init()
    {
        QTest::failOnWarning(QRegularExpression(
            QStringLiteral("^(?!This plugin does not support propagateSizeHints\\(\\)$)")));
    }

    void themeIndex_data()
    {
        QTest::addColumn<QJsonObject>("settings");
        QTest::addColumn<int>("index");
        QTest::newRow("missing") << QJsonObject() << 0;
        QTest::newRow("dark") << QJsonObject{{QStringLiteral("theme"), QStringLiteral("dark")}} << 0;
        QTest::newRow("light") << QJsonObject{{QStringLiteral("theme"), QStringLiteral("light")}} << 1;
        QTest::newRow("capital Light") << QJsonObject{{QStringLiteral("theme"), QStringLiteral("Light")}} << 2;
        QTest::newRow("system") << QJsonObject{{QStringLiteral("theme"), QStringLiteral("system")}} << 2;
        QTest::newRow("not a string") << QJsonObject{{QStringLiteral("theme"), 3}} << 0;
    }
    void themeIndex()
    {
        QFETCH(QJsonObject, settings);
        QTEST(SettingsDialog::themeIndex(settings), "index");
    }

    void loadsSwitchesAndTheme()
    {
        TempDataDir dir;
        dir.writeFile(QStringLiteral("settings.json"),
                      R"({"adBlocking": false, "blockCamera": "no", "theme": "Light", "extra": 1})");
        DataManager data;
        SettingsDialog dialog(&data, nullptr, nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
        for (const auto &s : SettingsDialog::privacySwitches()) {
            QCheckBox *box = dialog.privacyCheckBox(s.first);
            QVERIFY(box);
            QCOMPARE(box->text(), s.second);
            // Missing or not a boolean counts as on.
            QCOMPARE(box->isChecked(), s.first != QLatin1String("adBlocking"));
        }
        QCOMPARE(dialog.themeBox()->currentText(), QStringLiteral("System"));
        QCOMPARE(dialog.engineBox()->count(), 0);
    }

    void saveWritesElevenKeysAndFeedsTheEngine()
    {
        TempDataDir dir;
        dir.writeFile(QStringLiteral("settings.json"), R"({"unknown": true, "theme": "dark"})");
        DataManager data;
        SearchManager search;
        PrivacyEngine privacy;
        SettingsDialog dialog(&data, &privacy, &search);
        dialog.privacyCheckBox(QStringLiteral("blockFonts"))->setChecked(false);
        dialog.privacyCheckBox(QStringLiteral("blockGeolocation"))->setChecked(false);
        dialog.themeBox()->setCurrentIndex(1);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
        QCOMPARE(accepted.count(), 1);

        QJsonObject expected;
        for (const auto &s : SettingsDialog::privacySwitches())
            expected.insert(s.first, s.first != QLatin1String("blockFonts") && s.first != QLatin1String("blockGeolocation"));
        QCOMPARE(privacy.getPrivacySettings(), expected);
        expected.insert(QStringLiteral("theme"), QStringLiteral("light"));
        QCOMPARE(data.getSettings(), expected);
        QCOMPARE(QJsonDocument::fromJson(dir.readFile(QStringLiteral("settings.json"))).object(), expected);
    }

    void saveKeepsTheCurrentDefaultEngine()
    {
        TempDataDir dir;
        DataManager data;
        SearchManager search;
        search.setDefaultEngine(QStringLiteral("ddg"));
        SettingsDialog dialog(&data, nullptr, &search);
        QCOMPARE(dialog.engineBox()->currentData().toString(), QStringLiteral("ddg"));
        dialog.onSave();
        QCOMPARE(search.defaultKeyword(), QStringLiteral("ddg"));
        QCOMPARE(SearchManager().defaultKeyword(), QStringLiteral("ddg"));

        SettingsDialog again(&data, nullptr, &search);
        again.engineBox()->setCurrentIndex(again.engineBox()->findData(QStringLiteral("bing")));
        again.onSave();
        QCOMPARE(search.defaultKeyword(), QStringLiteral("bing"));
    }

    void cancelWritesNothing()
    {
        TempDataDir dir;
        DataManager data;
        SearchManager search;
        SettingsDialog dialog(&data, nullptr, &search);
        dialog.privacyCheckBox(QStringLiteral("adBlocking"))->setChecked(false);
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!QFile::exists(data.getSettingsPath()));
        QVERIFY(!QFile::exists(search.getEnginesPath()));
    }

    void addEngine_data()
    {
        QTest::addColumn<QStringList>("answers"); // null entry: cancel
        QTest::addColumn<bool>("added");
        QTest::newRow("all three") << QStringList{QStringLiteral("Mine"), QStringLiteral("mine"), QStringLiteral("https://mine.example/?q=%s")} << true;
        QTest::newRow("empty keyword") << QStringList{QStringLiteral("Mine"), QString(), QStringLiteral("https://mine.example/?q=%s")} << false;
        QTest::newRow("cancelled name") << QStringList{QString(), QStringLiteral("mine"), QStringLiteral("u")} << false;
    }
    void addEngine()
    {
        QFETCH(QStringList, answers);
        QFETCH(bool, added);
        TempDataDir dir;
        DataManager data;
        SearchManager search;
        SettingsDialog dialog(&data, nullptr, &search);
        const int before = dialog.engineBox()->count();
        ModalDriver driver;
        for (const QString &a : answers) {
            if (a.isNull())
                driver.enqueueCancel();
            else
                driver.enqueueText(a);
        }
        QTest::mouseClick(dialog.addEngineButton(), Qt::LeftButton);
        QVERIFY(driver.allAnswered());
        QCOMPARE(driver.seen().size(), 3);
        QCOMPARE(driver.seen().at(0).title, QStringLiteral("Add Search Engine"));
        QCOMPARE(driver.seen().at(0).label, QStringLiteral("Name:"));
        QCOMPARE(driver.seen().at(1).label, QStringLiteral("Keyword:"));
        QCOMPARE(driver.seen().at(2).label, QStringLiteral("URL (use %s for query):"));
        QCOMPARE(dialog.engineBox()->count(), before + (added ? 1 : 0));
        QCOMPARE(keywords(search).contains(QStringLiteral("mine")), added);
        // Acts at once: cancelling the dialog keeps it.
        dialog.onCancel();
        QCOMPARE(keywords(SearchManager()).contains(QStringLiteral("mine")), added);
        if (added)
            QCOMPARE(comboEntries(dialog.engineBox()).last(), QStringLiteral("Mine=mine"));
    }

    void editEngineWithPrefilledPrompts()
    {
        TempDataDir dir;
        DataManager data;
        SearchManager search;
        search.setDefaultEngine(QStringLiteral("ddg"));
        SettingsDialog dialog(&data, nullptr, &search);
        const SearchEngine old = search.defaultEngine();
        ModalDriver driver;
        driver.enqueueText(QStringLiteral("Duck"));
        driver.enqueueText(QStringLiteral("duck"));
        driver.enqueueText(QStringLiteral("https://duck.example/?q=%s"));
        QTest::mouseClick(dialog.editEngineButton(), Qt::LeftButton);
        QCOMPARE(driver.seen().size(), 3);
        QCOMPARE(driver.seen().at(0).title, QStringLiteral("Edit Search Engine"));
        QCOMPARE(driver.seen().at(0).initialText, old.name);
        QCOMPARE(driver.seen().at(1).initialText, QStringLiteral("ddg"));
        QCOMPARE(driver.seen().at(2).label, QStringLiteral("URL (use %s for query):"));
        QCOMPARE(driver.seen().at(2).initialText, old.url);

        QCOMPARE(dialog.engineBox()->currentText(), QStringLiteral("Duck"));
        QCOMPARE(dialog.engineBox()->currentData().toString(), QStringLiteral("duck"));
        QVERIFY(!keywords(search).contains(QStringLiteral("ddg")));
        QCOMPARE(keywords(search).indexOf(QStringLiteral("duck")), 1); // same place in the list
        // The default follows its engine's new keyword.
        QCOMPARE(search.defaultKeyword(), QStringLiteral("duck"));
        QCOMPARE(search.defaultEngine().url, QStringLiteral("https://duck.example/?q=%s"));

        // An emptied answer changes nothing.
        driver.enqueueText(QStringLiteral("X"));
        driver.enqueueText(QString());
        driver.enqueueText(QStringLiteral("https://x.example/?q=%s"));
        dialog.onSave(); // harmless: the default stays
        QTest::mouseClick(dialog.editEngineButton(), Qt::LeftButton);
        QVERIFY(driver.allAnswered());
        QCOMPARE(dialog.engineBox()->currentText(), QStringLiteral("Duck"));
        QCOMPARE(search.defaultEngine().name, QStringLiteral("Duck"));
    }

    void removeEngine()
    {
        TempDataDir dir;
        DataManager data;
        SearchManager search;
        SettingsDialog dialog(&data, nullptr, &search);
        const int count = dialog.engineBox()->count();
        dialog.engineBox()->setCurrentIndex(dialog.engineBox()->findData(QStringLiteral("yahoo")));
        QTest::mouseClick(dialog.removeEngineButton(), Qt::LeftButton);
        QCOMPARE(dialog.engineBox()->count(), count - 1);
        QCOMPARE(dialog.engineBox()->findData(QStringLiteral("yahoo")), -1);
        QVERIFY(!keywords(search).contains(QStringLiteral("yahoo")));

        while (dialog.engineBox()->count() > 0)
            QTest::mouseClick(dialog.removeEngineButton(), Qt::LeftButton);
        QVERIFY(search.searchEngines().isEmpty());
        QTest::mouseClick(dialog.removeEngineButton(), Qt::LeftButton); // empty: nothing
        QTest::mouseClick(dialog.editEngineButton(), Qt::LeftButton);
        dialog.onSave();
        QVERIFY(search.searchEngines().isEmpty());
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
