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

// A null entry cancels the prompt.
static void answer(ModalDriver &driver, const QStringList &answers)
{
    for (const QString &a : answers)
        a.isNull() ? driver.enqueueCancel() : driver.enqueueText(a);
}

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

    void themeIndex_data()
    {
        QTest::addColumn<QJsonValue>("theme");
        QTest::addColumn<int>("index");
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined) << 0;
        QTest::newRow("dark") << QJsonValue(QStringLiteral("dark")) << 0;
        QTest::newRow("light") << QJsonValue(QStringLiteral("light")) << 1;
        QTest::newRow("capital Light") << QJsonValue(QStringLiteral("Light")) << 2;
        QTest::newRow("system") << QJsonValue(QStringLiteral("system")) << 2;
        QTest::newRow("not a string") << QJsonValue(3) << 0;
    }
    void themeIndex()
    {
        QFETCH(QJsonValue, theme);
        QJsonObject settings;
        if (!theme.isUndefined())
            settings.insert(QStringLiteral("theme"), theme);
        QTEST(SettingsDialog::themeIndex(settings), "index");
    }

    // Cancel writes nothing; save drops unknown keys and writes every switch.
    void cancelThenSave()
    {
        TempDataDir dir;
        const QByteArray original = R"({"adBlocking": false, "blockCamera": "no", "theme": "Light", "extra": 1})";
        dir.writeFile(QStringLiteral("settings.json"), original);
        DataManager data;
        SearchManager search;
        PrivacyEngine privacy;
        SettingsDialog dialog(&data, &privacy, &search);
        dialog.privacyCheckBox(QStringLiteral("blockFonts"))->setChecked(false);
        QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
        QCOMPARE(dir.readFile(QStringLiteral("settings.json")), original);
        QVERIFY(!QFile::exists(search.getEnginesPath()));

        SettingsDialog again(&data, &privacy, &search);
        // Missing or not a boolean counts as on.
        for (const auto &s : SettingsDialog::privacySwitches())
            QCOMPARE(again.privacyCheckBox(s.first)->isChecked(), s.first != QLatin1String("adBlocking"));
        QCOMPARE(again.themeBox()->currentText(), QStringLiteral("System"));
        const QStringList off{QStringLiteral("adBlocking"), QStringLiteral("blockFonts")};
        again.privacyCheckBox(off.at(1))->setChecked(false);
        again.themeBox()->setCurrentIndex(1);
        QSignalSpy accepted(&again, &QDialog::accepted);
        QTest::mouseClick(again.saveButton(), Qt::LeftButton);
        QCOMPARE(accepted.count(), 1);
        QJsonObject expected;
        for (const auto &s : SettingsDialog::privacySwitches())
            expected.insert(s.first, !off.contains(s.first));
        QCOMPARE(privacy.getPrivacySettings(), expected);
        expected.insert(QStringLiteral("theme"), QStringLiteral("light"));
        QCOMPARE(QJsonDocument::fromJson(dir.readFile(QStringLiteral("settings.json"))).object(), expected);
    }

    void addEngine_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<bool>("added");
        const QString url = QStringLiteral("https://mine.example/?q=%s");
        QTest::newRow("all three") << QStringList{QStringLiteral("Mine"), QStringLiteral("mine"), url} << true;
        QTest::newRow("empty keyword") << QStringList{QStringLiteral("Mine"), QStringLiteral(""), url} << false;
        QTest::newRow("cancelled name") << QStringList{QString(), QStringLiteral("mine"), url} << false;
    }
    void addEngine()
    {
        QFETCH(QStringList, answers);
        QFETCH(bool, added);
        Fixture f;
        SettingsDialog dialog(&f.data, nullptr, &f.search);
        const int before = dialog.engineBox()->count();
        ModalDriver driver;
        answer(driver, answers);
        QTest::mouseClick(dialog.addEngineButton(), Qt::LeftButton);
        QVERIFY(driver.allAnswered());
        QCOMPARE(dialog.engineBox()->count(), before + int(added));
        QCOMPARE(dialog.engineBox()->findData(QStringLiteral("mine")), added ? before : -1);
        // Acts at once: cancelling the dialog keeps it.
        dialog.onCancel();
        QCOMPARE(keywords(SearchManager()).contains(QStringLiteral("mine")), added);
    }

    // The default engine is preselected, edited in place, and changed by saving.
    void editEngineWithPrefilledPrompts()
    {
        Fixture f;
        f.search.setDefaultEngine(QStringLiteral("ddg"));
        SettingsDialog dialog(&f.data, nullptr, &f.search);
        const SearchEngine old = f.search.defaultEngine();
        ModalDriver driver;
        answer(driver, {QStringLiteral("Duck"), QStringLiteral("duck"), QStringLiteral("https://duck.example/?q=%s")});
        QTest::mouseClick(dialog.editEngineButton(), Qt::LeftButton);
        QCOMPARE(driver.seen().size(), 3);
        QCOMPARE(driver.seen().at(0).initialText, old.name);
        QCOMPARE(driver.seen().at(1).initialText, QStringLiteral("ddg"));
        QCOMPARE(driver.seen().at(2).initialText, old.url);
        QCOMPARE(dialog.engineBox()->currentText(), QStringLiteral("Duck"));
        QCOMPARE(keywords(f.search).indexOf(QStringLiteral("duck")), 1); // same place, old keyword gone
        QVERIFY(!keywords(f.search).contains(QStringLiteral("ddg")));
        // The default follows its engine's new keyword, also after saving.
        dialog.onSave();
        QCOMPARE(SearchManager().defaultKeyword(), QStringLiteral("duck"));
        QCOMPARE(f.search.defaultEngine().url, QStringLiteral("https://duck.example/?q=%s"));

        // An emptied answer changes nothing.
        answer(driver, {QStringLiteral("X"), QStringLiteral(""), QStringLiteral("https://x.example/?q=%s")});
        QTest::mouseClick(dialog.editEngineButton(), Qt::LeftButton);
        QVERIFY(driver.allAnswered());
        QCOMPARE(f.search.defaultEngine().name, QStringLiteral("Duck"));

        SettingsDialog again(&f.data, nullptr, &f.search);
        QCOMPARE(again.engineBox()->currentData().toString(), QStringLiteral("duck"));
        again.engineBox()->setCurrentIndex(again.engineBox()->findData(QStringLiteral("bing")));
        again.onSave();
        QCOMPARE(f.search.defaultKeyword(), QStringLiteral("bing"));
    }

    void removeEngine()
    {
        Fixture f;
        SettingsDialog dialog(&f.data, nullptr, &f.search);
        const int count = dialog.engineBox()->count();
        dialog.engineBox()->setCurrentIndex(dialog.engineBox()->findData(QStringLiteral("yahoo")));
        QTest::mouseClick(dialog.removeEngineButton(), Qt::LeftButton);
        QCOMPARE(dialog.engineBox()->count(), count - 1);
        QVERIFY(!keywords(f.search).contains(QStringLiteral("yahoo")));
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
