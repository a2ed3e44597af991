#include "DataManager.h"
#include "ModalAnswerer.h"
#include "PrivacyEngine.h"
#include "SearchManager.h"
#include "SettingsDialog.h"
#include "TempDataDir.h"

#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

// Member order matters: the data folder exists before the stores read it.
struct Fixture {
    TempDataDir dir;
    DataManager data;
    SearchManager search;
};

static QStringList keywords(const SearchManager &search)
{
    QStringList out;
    for (const SearchEngine &e : search.searchEngines())
        out.append(e.keyword);
    return out;
}

class TestSettingsDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The offscreen platform notes each modal box it shows.
    void init() { QTest::failOnWarning(QRegularExpression(u"^(?!This plugin does not support propagateSizeHints\\(\\)$)"_s)); }

    // Cancel writes nothing; save drops unknown keys and writes every switch.
    void cancelThenSave()
    {
        TempDataDir dir;
        const QByteArray original = R"({"adBlocking": false, "blockCamera": "no", "theme": "Light", "extra": 1})";
        dir.writeFile(u"settings.json"_s, original);
        DataManager data;
        SearchManager search;
        PrivacyEngine privacy;
        SettingsDialog dialog(&data, &privacy, &search);
        dialog.privacyCheckBox(u"blockFonts"_s)->setChecked(false);
        QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
        QCOMPARE(dir.readFile(u"settings.json"_s), original);
        QVERIFY(!QFile::exists(search.getEnginesPath()));

        SettingsDialog again(&data, &privacy, &search);
        // Missing or not a boolean counts as on; an unknown theme is "System".
        for (const auto &s : SettingsDialog::privacySwitches())
            QCOMPARE(again.privacyCheckBox(s.first)->isChecked(), s.first != "adBlocking"_L1);
        QCOMPARE(again.themeBox()->currentText(), u"System"_s);
        const QStringList off{u"adBlocking"_s, u"blockFonts"_s};
        again.privacyCheckBox(off.at(1))->setChecked(false);
        again.themeBox()->setCurrentIndex(1);
        QSignalSpy accepted(&again, &QDialog::accepted);
        QTest::mouseClick(again.saveButton(), Qt::LeftButton);
        QCOMPARE(accepted.count(), 1);
        QJsonObject expected;
        for (const auto &s : SettingsDialog::privacySwitches())
            expected.insert(s.first, !off.contains(s.first));
        QCOMPARE(privacy.getPrivacySettings(), expected);
        expected.insert(u"theme"_s, u"light"_s);
        QCOMPARE(QJsonDocument::fromJson(dir.readFile(u"settings.json"_s)).object(), expected);
        QCOMPARE(SettingsDialog(&data, &privacy, &search).themeBox()->currentIndex(), 1);
    }

    // Prompts: name, keyword, URL; a null answer cancels.
    void addEngine_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<bool>("added");
        const QString url = u"https://mine.example/?q=%s"_s;
        QTest::newRow("all three") << QStringList{"Mine", "mine", url} << true;
        QTest::newRow("empty keyword") << QStringList{"Mine", "", url} << false;
        QTest::newRow("cancelled name") << QStringList{QString(), "mine", url} << false;
    }
    void addEngine()
    {
        QFETCH(QStringList, answers);
        QFETCH(bool, added);
        Fixture f;
        SettingsDialog dialog(&f.data, nullptr, &f.search);
        const int before = dialog.engineBox()->count();
        ModalAnswerer prompts(answers);
        QTest::mouseClick(dialog.addEngineButton(), Qt::LeftButton);
        QVERIFY(prompts.allAnswered());
        QCOMPARE(dialog.engineBox()->count(), before + int(added));
        QCOMPARE(dialog.engineBox()->findData(u"mine"_s), added ? before : -1);
        // Acts at once: cancelling the dialog keeps it.
        dialog.onCancel();
        QCOMPARE(keywords(SearchManager()).contains(u"mine"_s), added);
    }

    // The default engine is preselected, edited in place, and changed by saving.
    void editEngineWithPrefilledPrompts()
    {
        Fixture f;
        f.search.setDefaultEngine(u"ddg"_s);
        SettingsDialog dialog(&f.data, nullptr, &f.search);
        const SearchEngine old = f.search.defaultEngine();
        ModalAnswerer prompts({u"Duck"_s, u"duck"_s, u"https://duck.example/?q=%s"_s});
        QTest::mouseClick(dialog.editEngineButton(), Qt::LeftButton);
        QCOMPARE(prompts.seen().size(), 3);
        QCOMPARE(prompts.seen().at(0).initialText, old.name);
        QCOMPARE(prompts.seen().at(1).initialText, u"ddg"_s);
        QCOMPARE(prompts.seen().at(2).initialText, old.url);
        QCOMPARE(dialog.engineBox()->currentText(), u"Duck"_s);
        QCOMPARE(keywords(f.search).indexOf(u"duck"_s), 1); // same place, old keyword gone
        QVERIFY(!keywords(f.search).contains(u"ddg"_s));
        // The default follows its engine's new keyword, also after saving.
        dialog.onSave();
        QCOMPARE(SearchManager().defaultKeyword(), u"duck"_s);
        QCOMPARE(f.search.defaultEngine().url, u"https://duck.example/?q=%s"_s);

        // An emptied answer changes nothing.
        prompts.enqueue({u"X"_s, u""_s, u"https://x.example/?q=%s"_s});
        QTest::mouseClick(dialog.editEngineButton(), Qt::LeftButton);
        QVERIFY(prompts.allAnswered());
        QCOMPARE(f.search.defaultEngine().name, u"Duck"_s);

        SettingsDialog again(&f.data, nullptr, &f.search);
        QCOMPARE(again.engineBox()->currentData().toString(), u"duck"_s);
        again.engineBox()->setCurrentIndex(again.engineBox()->findData(u"bing"_s));
        again.onSave();
        QCOMPARE(f.search.defaultKeyword(), u"bing"_s);
    }

    void removeEngine()
    {
        Fixture f;
        SettingsDialog dialog(&f.data, nullptr, &f.search);
        const int count = dialog.engineBox()->count();
        dialog.engineBox()->setCurrentIndex(dialog.engineBox()->findData(u"yahoo"_s));
        QTest::mouseClick(dialog.removeEngineButton(), Qt::LeftButton);
        QCOMPARE(dialog.engineBox()->count(), count - 1);
        QVERIFY(!keywords(SearchManager()).contains(u"yahoo"_s));
        while (dialog.engineBox()->count() > 0)
            QTest::mouseClick(dialog.removeEngineButton(), Qt::LeftButton);
        // With no engine left, remove, edit and save do nothing.
        QTest::mouseClick(dialog.removeEngineButton(), Qt::LeftButton);
        QTest::mouseClick(dialog.editEngineButton(), Qt::LeftButton);
        dialog.onSave();
        QVERIFY(f.search.searchEngines().isEmpty());
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
