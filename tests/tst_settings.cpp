#include "ActiveFilters.h"
#include "ContentBlocker.h"
#include "DataManager.h"
#include "DefaultBrowser.h"
#include "FilterListManager.h"
#include "FilterListsPanel.h"
#include "ModalAnswerer.h"
#include "PrivacyEngine.h"
#include "SearchManager.h"
#include "SettingsDialog.h"
#include "SiteProtection.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"
#include "Theme.h"
#include "WebSettingsApplier.h"

#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(DefaultBrowser::State)
Q_DECLARE_METATYPE(DefaultBrowser::Run)
Q_DECLARE_METATYPE(Theme::Kind)

namespace {
// A fake xdg-settings: records its arguments, prints what "answer" holds, writes
// "stderr" to its error output, sleeps "sleep" seconds and exits with "exit".
class FakeXdgSettings
{
public:
    FakeXdgSettings()
    {
        QFile script(program());
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\n"
                     "d=$(dirname \"$0\")\n"
                     "echo \"$*\" >> \"$d/calls.log\"\n"
                     "[ -f \"$d/sleep\" ] && sleep \"$(cat \"$d/sleep\")\"\n"
                     "[ -f \"$d/hang\" ] && { sleep 30 & echo $! > \"$d/sleeper\"; wait; }\n"
                     "[ \"$1\" = set ] && [ -f \"$d/set-makes-default\" ] && echo yes > \"$d/answer\"\n"
                     "[ \"$1\" = check ] && [ -f \"$d/answer\" ] && cat \"$d/answer\"\n"
                     "[ -f \"$d/stderr\" ] && cat \"$d/stderr\" >&2\n"
                     "exit \"$(cat \"$d/exit\" 2>/dev/null || echo 0)\"\n");
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString program() const { return m_dir.path() + u"/xdg-settings"_s; }
    void set(const QString &name, const QByteArray &content) const
    {
        QFile f(m_dir.path() + u'/' + name);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(content);
    }
    QByteArray read(const QString &name) const
    {
        QFile f(m_dir.path() + u'/' + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
    }
    QStringList calls() const
    {
        QFile f(m_dir.path() + u"/calls.log"_s);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts) : QStringList();
    }

private:
    QTemporaryDir m_dir;
};

const QString kOriginalDarkSheet = QStringLiteral(
    "QMainWindow { background: #0f0f12; }"
    "QWidget { color: #d0d0d0; font-family: 'Segoe UI', sans-serif; font-size: 13px; }"
    "#toolbarWidget { background: #18181b; border-bottom: 1px solid #2a2a30; }"
    "QPushButton { background: transparent; border: none; border-radius: 6px; color: #a0a0b0; }"
    "QPushButton:hover { background: rgba(255, 255, 255, 0.08); color: #fff; }"
    "QPushButton:pressed { background: rgba(255, 255, 255, 0.12); }"
    "QPushButton[text*=\"VPN\"] { background: rgba(0, 229, 255, 0.1); border: 1px solid rgba(0, 229, 255, 0.3);"
    " color: #00e5ff; padding: 0 16px; font-weight: 600; }"
    "QPushButton[text*=\"VPN\"]:hover { background: rgba(0, 229, 255, 0.2); border-color: #00e5ff; }"
    "QLineEdit { background: #09090b; border: 1px solid #27272a; border-radius: 8px; padding: 6px 14px;"
    " color: #fff; selection-background-color: #00e5ff; selection-color: #000; }"
    "QLineEdit:focus { border: 1px solid #00e5ff; background: #000; }"
    "QTabWidget::pane { border: none; background: #0f0f12; }"
    "QTabBar::tab { background: transparent; color: #80808a; padding: 10px 24px; border: none;"
    " border-right: 1px solid #1a1a1f; }"
    "QTabBar::tab:selected { background: #0f0f12; color: #fff; border-top: 2px solid #00e5ff; }"
    "QTabBar::tab:hover:!selected { background: #1c1c22; color: #bbb; }"
    "QMenu { background-color: #18181b; border: 1px solid #2a2a30; border-radius: 8px; padding: 4px; }"
    "QMenu::item { padding: 6px 24px; border-radius: 4px; color: #d0d0d0; }"
    "QMenu::item:selected { background-color: #00e5ff; color: #000; }");
}

// Settings that apply: what each stored key means, the dialog showing and
// keeping them, search address checks, the default-browser check, the themes.
class TestSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        // The offscreen platform notes what it cannot do for modal boxes.
        QTest::failOnWarning(QRegularExpression(u"^(?!This plugin does not support )"_s));
    }

    void webValues_data()
    {
        QTest::addColumn<QJsonObject>("settings");
        QTest::addColumn<bool>("javaScript");
        QTest::addColumn<bool>("plugins");
        QTest::addColumn<int>("fontSize");
        QTest::addColumn<bool>("acceleration");
        QTest::newRow("missing keys: today's behaviour") << QJsonObject() << true << true << 16 << true;
        QTest::newRow("the first start's defaults") << DataManager::defaultSettings() << true << true << 16 << true;
        QTest::newRow("all off, small") << QJsonObject{{"enableJavaScript", false}, {"enablePlugins", false}, {"hardwareAcceleration", false}, {"fontSize", "small"}}
                                        << false << false << 12 << false;
        QTest::newRow("large") << QJsonObject{{"fontSize", "large"}} << true << true << 20 << true;
        QTest::newRow("wrong types fall back") << QJsonObject{{"enableJavaScript", "false"}, {"enablePlugins", 0}, {"hardwareAcceleration", QJsonValue()}, {"fontSize", 30}}
                                               << true << true << 16 << true;
        QTest::newRow("unknown size") << QJsonObject{{"fontSize", "Large"}} << true << true << 16 << true;
    }
    void webValues()
    {
        QFETCH(QJsonObject, settings);
        const WebSettingsApplier::Values values = WebSettingsApplier::fromSettings(settings);
        QTEST(values.javaScript, "javaScript");
        QTEST(values.plugins, "plugins");
        QTEST(values.defaultFontSize, "fontSize");
        QTEST(values.hardwareAcceleration, "acceleration");
    }

    void startupFlags_data()
    {
        QTest::addColumn<QByteArray>("current");
        QTest::addColumn<bool>("acceleration");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("on: nothing added") << QByteArray() << true << QByteArray();
        QTest::newRow("on: the user's flags kept") << QByteArray(" --disable-gpu  --foo=1 ") << true << QByteArray("--disable-gpu --foo=1");
        QTest::newRow("off") << QByteArray() << false << QByteArray("--disable-gpu --disable-gpu-compositing");
        QTest::newRow("off, after the user's flags") << QByteArray("--no-sandbox --lang=de") << false
                                                     << QByteArray("--no-sandbox --lang=de --disable-gpu --disable-gpu-compositing");
        QTest::newRow("off, not twice") << QByteArray("--disable-gpu") << false << QByteArray("--disable-gpu --disable-gpu-compositing");
    }
    void startupFlags()
    {
        QFETCH(QByteArray, current);
        QFETCH(bool, acceleration);
        QTEST(WebSettingsApplier::startupFlags(current, QJsonObject{{"hardwareAcceleration", acceleration}}), "expected");
    }

    void colorSchemeFlags_data()
    {
        QTest::addColumn<QByteArray>("current");
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("dark") << QByteArray() << true << QByteArray("--blink-settings=preferredColorScheme=0");
        QTest::newRow("light, after other flags") << QByteArray("--disable-gpu") << false
                                                  << QByteArray("--disable-gpu --blink-settings=preferredColorScheme=1");
        QTest::newRow("joins the user's list") << QByteArray("--blink-settings=imagesEnabled=false --x") << true
                                               << QByteArray("--blink-settings=imagesEnabled=false,preferredColorScheme=0 --x");
        QTest::newRow("the user's own scheme wins") << QByteArray("--blink-settings=preferredColorScheme=1") << true
                                                    << QByteArray("--blink-settings=preferredColorScheme=1");
    }
    void colorSchemeFlags()
    {
        QFETCH(QByteArray, current);
        QFETCH(bool, dark);
        QTEST(WebSettingsApplier::colorSchemeFlags(current, dark ? WebSettingsApplier::ColorScheme::Dark
                                                                  : WebSettingsApplier::ColorScheme::Light),
              "expected");
    }

    void engineUrls_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("https with query") << u"https://duckduckgo.com/?q=%s"_s << true;
        QTest::newRow("http in the path") << u"http://search.example/find/%s"_s << true;
        QTest::newRow("upper-case scheme, port") << u"HTTPS://search.example:8443/?q=%s&lang=en"_s << true;
        QTest::newRow("spaces around") << u"  https://a.example/?q=%s  "_s << true;
        QTest::newRow("no placeholder") << u"https://duckduckgo.com/?q="_s << false;
        QTest::newRow("other placeholder") << u"https://duckduckgo.com/?q={searchTerms}"_s << false;
        QTest::newRow("javascript") << u"javascript:alert('%s')"_s << false;
        QTest::newRow("data") << u"data:text/html,%s"_s << false;
        QTest::newRow("file") << u"file:///tmp/%s"_s << false;
        QTest::newRow("ftp") << u"ftp://a.example/%s"_s << false;
        QTest::newRow("no scheme") << u"duckduckgo.com/?q=%s"_s << false;
        QTest::newRow("no host") << u"https:///?q=%s"_s << false;
        QTest::newRow("placeholder as host") << u"https://%s/"_s << false;
        QTest::newRow("placeholder in host") << u"https://%s.example/"_s << false;
        QTest::newRow("not an address") << u"https://exa mple.com/?q=%s"_s << false;
        for (const SearchEngine &engine : SearchManager::builtInEngines())
            QTest::addRow("built in: %s", qPrintable(engine.name)) << engine.url << true;
    }
    void engineUrls()
    {
        QFETCH(QString, url);
        QFETCH(bool, accepted);
        const QString problem = SettingsDialog::engineUrlProblem(url);
        QVERIFY2(problem.isEmpty() == accepted, qPrintable(problem));
    }

    // Add and edit refuse a bad address with a message and change nothing.
    void engineDialogsRefuseBadAddresses()
    {
        TempDataDir dir;
        DataManager data;
        SearchManager search;
        SettingsDialog dialog(&data, nullptr, &search);
        const QList<SearchEngine> before = search.searchEngines();
        ModalAnswerer prompts({u"Mine"_s, u"mine"_s, u"https://mine.example/?q="_s, u"OK"_s});
        QTest::mouseClick(dialog.addEngineButton(), Qt::LeftButton);
        QVERIFY(prompts.allAnswered());
        QCOMPARE(prompts.seen().last().label, SettingsDialog::engineUrlProblem(u"x"_s));
        QCOMPARE(SearchManager().searchEngines(), before);
        QCOMPARE(dialog.engineBox()->count(), before.size());

        dialog.engineBox()->setCurrentIndex(0);
        prompts.enqueue({before.first().name, before.first().keyword, u"javascript:alert(%s)"_s, u"OK"_s});
        QTest::mouseClick(dialog.editEngineButton(), Qt::LeftButton);
        QVERIFY(prompts.allAnswered());
        QVERIFY(prompts.seen().last().label.startsWith(u"The address must be a web address"_s));
        QCOMPARE(SearchManager().searchEngines(), before);

        prompts.enqueue({u"Mine"_s, u"mine"_s, u" https://mine.example/?q=%s "_s});
        QTest::mouseClick(dialog.addEngineButton(), Qt::LeftButton);
        QCOMPARE(SearchManager().searchUrl(u"a b"_s, u"mine"_s), QUrl(u"https://mine.example/?q=a%20b"_s));
    }

    // The dialog opens on what is stored (missing keys: today's defaults) and Save
    // writes every switch while keeping keys other features store there.
    void dialogShowsAndKeeps_data()
    {
        QTest::addColumn<QJsonObject>("stored");
        QTest::addColumn<bool>("javaScript");
        QTest::addColumn<bool>("plugins");
        QTest::addColumn<bool>("acceleration");
        QTest::addColumn<QString>("font");
        QTest::addColumn<QString>("theme");
        QTest::newRow("first start") << QJsonObject() << true << true << true << u"Medium"_s << u"Dark"_s;
        QTest::newRow("older file with the eleven keys") << DataManager::defaultSettings() << true << true << true << u"Medium"_s << u"Dark"_s;
        QTest::newRow("all changed") << QJsonObject{{"enableJavaScript", false}, {"enablePlugins", false}, {"hardwareAcceleration", false},
                                                    {"fontSize", "large"}, {"theme", "light"}}
                                     << false << false << false << u"Large"_s << u"Light"_s;
        QTest::newRow("system theme, small") << QJsonObject{{"theme", "system"}, {"fontSize", "small"}} << true << true << true << u"Small"_s << u"System"_s;
    }
    void dialogShowsAndKeeps()
    {
        QFETCH(QJsonObject, stored);
        TempDataDir dir;
        QJsonObject file = stored;
        file.insert(u"filterLists"_s, QJsonArray{u"https://lists.example/a.txt"_s});
        file.insert(u"someFutureKey"_s, 42);
        if (!stored.isEmpty())
            dir.writeFile(u"settings.json"_s, QJsonDocument(file).toJson());
        DataManager data;
        SettingsDialog dialog(&data, nullptr, nullptr);
        QTEST(dialog.javaScriptBox()->isChecked(), "javaScript");
        QTEST(dialog.pluginsBox()->isChecked(), "plugins");
        QTEST(dialog.hardwareAccelerationBox()->isChecked(), "acceleration");
        QTEST(dialog.fontSizeBox()->currentText(), "font");
        QTEST(dialog.themeBox()->currentText(), "theme");

        dialog.javaScriptBox()->toggle();
        dialog.fontSizeBox()->setCurrentIndex(2);
        dialog.privacyCheckBox(u"blockFonts"_s)->setChecked(false);
        QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
        const QJsonObject saved = DataManager().getSettings();
        QCOMPARE(saved.value(u"enableJavaScript"_s), QJsonValue(dialog.javaScriptBox()->isChecked()));
        QCOMPARE(saved.value(u"enablePlugins"_s), QJsonValue(dialog.pluginsBox()->isChecked()));
        QCOMPARE(saved.value(u"hardwareAcceleration"_s), QJsonValue(dialog.hardwareAccelerationBox()->isChecked()));
        QCOMPARE(saved.value(u"fontSize"_s), QJsonValue(u"large"_s));
        QCOMPARE(saved.value(u"theme"_s), QJsonValue(dialog.themeBox()->currentText().toLower()));
        QCOMPARE(saved.value(u"blockFonts"_s), QJsonValue(false));
        if (!stored.isEmpty()) {
            QCOMPARE(saved.value(u"someFutureKey"_s), QJsonValue(42));
            QCOMPARE(saved.value(u"filterLists"_s), file.value(u"filterLists"_s));
        }
        // What the dialog wrote is what the engine gets.
        const WebSettingsApplier::Values values = WebSettingsApplier::fromSettings(saved);
        QCOMPARE(values.javaScript, dialog.javaScriptBox()->isChecked());
        QCOMPARE(values.defaultFontSize, 20);
        QCOMPARE(SettingsDialog(&data, nullptr, nullptr).javaScriptBox()->isChecked(), dialog.javaScriptBox()->isChecked());
    }

    void defaultBrowserOutcome_data()
    {
        QTest::addColumn<DefaultBrowser::Run>("run");
        QTest::addColumn<DefaultBrowser::State>("state");
        QTest::addColumn<QString>("message");
        auto run = [](int exitCode, const QByteArray &out, const QByteArray &err = {}) {
            DefaultBrowser::Run r;
            r.exitCode = exitCode;
            r.output = out;
            r.errorOutput = err;
            return r;
        };
        DefaultBrowser::Run missing;
        missing.started = false;
        DefaultBrowser::Run hung;
        hung.timedOut = true;
        DefaultBrowser::Run crashed;
        crashed.crashed = true;
        QTest::newRow("yes") << run(0, "yes\n") << DefaultBrowser::State::IsDefault << u"OrvexBrowser is your default web browser."_s;
        QTest::newRow("no") << run(0, "no\n") << DefaultBrowser::State::NotDefault << u"OrvexBrowser is not your default web browser."_s;
        QTest::newRow("odd answer") << run(0, "maybe <b>so</b>\n") << DefaultBrowser::State::Failed
                                    << u"xdg-settings gave an unexpected answer: maybe <b>so</b>"_s;
        QTest::newRow("not installed") << missing << DefaultBrowser::State::Failed
                                       << u"Could not run xdg-settings: it is not installed (Debian package xdg-utils)."_s;
        QTest::newRow("refused, with its reason") << run(3, "", "xdg-settings: unknown desktop environment\n")
                                                  << DefaultBrowser::State::Failed
                                                  << u"xdg-settings failed (exit code 3): xdg-settings: unknown desktop environment"_s;
        QTest::newRow("entry not installed, silent") << run(2, "") << DefaultBrowser::State::Failed
            << u"xdg-settings failed (exit code 2): the browser's desktop entry was not found; install OrvexBrowser first"_s;
        QTest::newRow("refused, silent") << run(4, "") << DefaultBrowser::State::Failed
                                         << u"xdg-settings failed (exit code 4): the desktop refused the change"_s;
        QTest::newRow("unknown code, silent") << run(9, "") << DefaultBrowser::State::Failed << u"xdg-settings failed (exit code 9)."_s;
        QTest::newRow("hung") << hung << DefaultBrowser::State::Failed << u"xdg-settings did not answer within 30 seconds."_s;
        QTest::newRow("crashed") << crashed << DefaultBrowser::State::Failed << u"xdg-settings stopped unexpectedly."_s;
        QTest::newRow("long error cut") << run(1, "", QByteArray(1000, 'e')) << DefaultBrowser::State::Failed
                                        << u"xdg-settings failed (exit code 1): "_s + QString(300, u'e') + u"…"_s;
    }
    void defaultBrowserOutcome()
    {
        QFETCH(DefaultBrowser::Run, run);
        QFETCH(DefaultBrowser::State, state);
        QFETCH(QString, message);
        const DefaultBrowser::Outcome outcome = DefaultBrowser::checkOutcome(run, u"xdg-settings"_s);
        QCOMPARE(outcome.state, state);
        QCOMPARE(outcome.message, message);
    }

    // General tab with a fake xdg-settings: the check starts when the dialog shows
    // and does not hold it up; "Make default" sets and checks again; failures show
    // the tool's own words as plain text.
    void defaultBrowserInTheDialog()
    {
        TempDataDir dir;
        DataManager data;
        FakeXdgSettings xdg;
        xdg.set(u"answer"_s, "no\n");
        xdg.set(u"sleep"_s, "1");
        xdg.set(u"set-makes-default"_s, "");
        SettingsDialog dialog(&data, nullptr, nullptr);
        QCOMPARE(dialog.tabs()->tabText(0), u"General"_s);
        dialog.defaultBrowser()->setProgram(xdg.program());
        QElapsedTimer clock;
        clock.start();
        dialog.show();
        QVERIFY(clock.elapsed() < 900);
        QVERIFY(dialog.defaultBrowser()->isBusy());
        QVERIFY(!dialog.makeDefaultButton()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(dialog.defaultBrowserLabel()->text(), u"OrvexBrowser is not your default web browser."_s, 10000);
        QVERIFY(dialog.makeDefaultButton()->isEnabled());

        QTest::mouseClick(dialog.makeDefaultButton(), Qt::LeftButton);
        QVERIFY(!dialog.makeDefaultButton()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(dialog.defaultBrowserLabel()->text(), u"OrvexBrowser is your default web browser."_s, 10000);
        QVERIFY(!dialog.makeDefaultButton()->isEnabled());
        QCOMPARE(xdg.calls(), (QStringList{u"check default-web-browser net.orvexvpn.OrvexBrowser.desktop"_s,
                                           u"set default-web-browser net.orvexvpn.OrvexBrowser.desktop"_s,
                                           u"check default-web-browser net.orvexvpn.OrvexBrowser.desktop"_s}));
    }

    void defaultBrowserFailures_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::newRow("set refused") << u"refuse"_s
                                     << u"xdg-settings failed (exit code 2): <b>desktop file</b> net.orvexvpn.OrvexBrowser.desktop not found"_s;
        QTest::newRow("tool missing") << u"missing"_s
                                      << u"Could not run xdg-settings: it is not installed (Debian package xdg-utils)."_s;
        QTest::newRow("tool hangs") << u"hang"_s << u"xdg-settings did not answer within 1 second."_s;
    }
    void defaultBrowserFailures()
    {

        QFETCH(QString, setup);
        QFETCH(QString, message);
        TempDataDir dir;
        DataManager data;
        FakeXdgSettings xdg;
        xdg.set(u"answer"_s, "no\n");
        SettingsDialog dialog(&data, nullptr, nullptr);
        dialog.defaultBrowser()->setProgram(xdg.program());
        dialog.show();
        QTRY_COMPARE_WITH_TIMEOUT(dialog.defaultBrowserLabel()->text(), u"OrvexBrowser is not your default web browser."_s, 10000);
        if (setup == u"refuse"_s) {
            xdg.set(u"exit"_s, "2");
            xdg.set(u"stderr"_s, "<b>desktop file</b> net.orvexvpn.OrvexBrowser.desktop not found\n");
        } else if (setup == u"missing"_s) {
            dialog.defaultBrowser()->setProgram(u"/nonexistent/xdg-settings"_s);
        } else {
            xdg.set(u"hang"_s, "");
            dialog.defaultBrowser()->setProgram(u"xdg-settings"_s); // found on PATH
            dialog.defaultBrowser()->setTimeout(1000);
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFileInfo(xdg.program()).absolutePath().toLocal8Bit() + ':' + path);
        QTest::mouseClick(dialog.makeDefaultButton(), Qt::LeftButton);
        qputenv("PATH", path);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.defaultBrowserLabel()->text(), message, 10000);
        QCOMPARE(dialog.defaultBrowserLabel()->textFormat(), Qt::PlainText);
        QVERIFY(dialog.makeDefaultButton()->isEnabled()); // may be tried again
        QVERIFY(!dialog.defaultBrowser()->isBusy());
        if (setup == u"hang"_s) {
            // Killed with what it started (its process group), not left behind.
            const QByteArray pid = xdg.read(u"sleeper"_s);
            QVERIFY(!pid.isEmpty());
            auto running = [&pid] {
                QFile stat(u"/proc/"_s + QString::fromLatin1(pid) + u"/stat"_s);
                return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
            };
            QTRY_VERIFY(!running());
        }
    }

    // Settings → Privacy → "Filter lists": each list with its rule count,
    // last update and last error; Add (by URL), Remove and Update now act at
    // once, downloads only inside the tunnel; My filters shows what it can't
    // use line by line and is stored by Save; the sites without protection
    // can be protected again.
    void filterListsSection()
    {
        TempDataDir dir;
        TestHttpServer server;
        QVERIFY(server.listen());
        server.setPage("/list.txt", "[Adblock Plus 2.0]\n! Title: Loopback list\n||ads.example^\n##.ad\n", "text/plain");
        server.setPage("/second.txt", "[Adblock Plus 2.0]\n! Title: Second list\n||more.example^\n", "text/plain");
        FilterListManager::setDefaultLists({server.url(u"/list.txt"_s)});
        ContentBlocker blocker(dir.dataFolder(), dir.cacheDir());
        DataManager data(dir.configDir());
        SettingsDialog dialog(&data, nullptr, nullptr);
        dialog.setContentBlocker(&blocker);
        FilterListsPanel *panel = dialog.filterListsPanel();
        QVERIFY(panel->isEnabled());
        const auto row = [panel](int r) {
            QStringList cells;
            for (int c = 0; c < panel->listTable()->columnCount(); ++c)
                cells << panel->listTable()->item(r, c)->text();
            return cells;
        };
        QCOMPARE(panel->listTable()->rowCount(), 1);
        QCOMPARE(row(0), (QStringList{u"list.txt"_s, u"0"_s, u"Never"_s, u"OK"_s}));

        QTest::mouseClick(panel->updateButton(), Qt::LeftButton);
        QCOMPARE(row(0).at(3), u"Not updated: no VPN tunnel is up"_s);
        QCOMPARE(server.requestCount("/list.txt"), 0);
        blocker.setTunnelUp(true);
        QTRY_COMPARE(row(0).at(3), u"OK"_s);
        QCOMPARE(row(0).at(0), u"Loopback list"_s);
        QCOMPARE(row(0).at(1), u"2"_s);
        QCOMPARE(row(0).at(2), FilterListsPanel::lastUpdateText(blocker.lists()->lists().first().lastUpdate, false));
        QTRY_VERIFY(ActiveFilters::engine() && ActiveFilters::engine()->decide(QUrl(u"https://ads.example/x.js"_s),
                                                                               QUrl(u"https://news.example/"_s),
                                                                               FilterRule::Script).blocked);

        ModalAnswerer refused({u"ftp://lists.example/list.txt"_s, u"OK"_s});
        QTest::mouseClick(panel->addButton(), Qt::LeftButton);
        QTRY_VERIFY(refused.allAnswered());
        QCOMPARE(refused.seen().at(1).label, u"Only http and https addresses can be subscribed"_s);
        ModalAnswerer added({server.url(u"/second.txt"_s).toString()});
        QTest::mouseClick(panel->addButton(), Qt::LeftButton);
        QTRY_COMPARE(panel->listTable()->rowCount(), 2);
        QTRY_COMPARE(row(1).at(0), u"Second list"_s);
        panel->listTable()->selectRow(0);
        QTest::mouseClick(panel->removeButton(), Qt::LeftButton);
        QCOMPARE(panel->listTable()->rowCount(), 1);
        QCOMPARE(row(0).at(0), u"Second list"_s);

        panel->myFilters()->setPlainText(u"||mine.example^\n$$$what\nexample.com#?#div\n||fine.example^$script"_s);
        QTRY_VERIFY(!panel->myFiltersErrors()->isHidden());
        const QStringList errors = panel->myFiltersErrors()->text().split(u'\n');
        QCOMPARE(errors.size(), 2);
        QVERIFY2(errors.at(0).startsWith(u"Line 2: "_s) && errors.at(1).startsWith(u"Line 3: "_s), qPrintable(errors.join(u'|')));
        QVERIFY(blocker.lists()->userRules().isEmpty()); // Save stores them
        QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
        QCOMPARE(blocker.lists()->userRules(), panel->myFilters()->toPlainText());
        QCOMPARE(dir.readFile(u"myfilters.txt"_s), panel->myFilters()->toPlainText().toUtf8());
        QTRY_VERIFY(ActiveFilters::engine()->decide(QUrl(u"https://mine.example/a.png"_s), QUrl(u"https://news.example/"_s),
                                                    FilterRule::Image).blocked);

        blocker.siteProtection()->setProtected(u"www.news.example"_s, false);
        QCOMPARE(panel->unprotectedSites()->count(), 1);
        QCOMPARE(panel->unprotectedSites()->item(0)->text(), u"news.example"_s);
        panel->unprotectedSites()->setCurrentRow(0);
        QTest::mouseClick(panel->removeSiteButton(), Qt::LeftButton);
        QCOMPARE(panel->unprotectedSites()->count(), 0);
        QVERIFY(blocker.siteProtection()->isProtected(u"news.example"_s));
        ActiveFilters::setEngine(nullptr);
    }

    void themeFromSettings_data()
    {
        QTest::addColumn<QJsonObject>("settings");
        QTest::addColumn<Theme::Kind>("kind");
        QTest::addColumn<Theme::Kind>("onDarkDesktop");
        QTest::addColumn<Theme::Kind>("onLightDesktop");
        QTest::newRow("missing") << QJsonObject() << Theme::Kind::Dark << Theme::Kind::Dark << Theme::Kind::Dark;
        QTest::newRow("dark") << QJsonObject{{"theme", "dark"}} << Theme::Kind::Dark << Theme::Kind::Dark << Theme::Kind::Dark;
        QTest::newRow("light") << QJsonObject{{"theme", "light"}} << Theme::Kind::Light << Theme::Kind::Light << Theme::Kind::Light;
        QTest::newRow("system") << QJsonObject{{"theme", "system"}} << Theme::Kind::System << Theme::Kind::Dark << Theme::Kind::Light;
        QTest::newRow("capitalised counts as system") << QJsonObject{{"theme", "Light"}} << Theme::Kind::System << Theme::Kind::Dark << Theme::Kind::Light;
        QTest::newRow("not a string") << QJsonObject{{"theme", 1}} << Theme::Kind::Dark << Theme::Kind::Dark << Theme::Kind::Dark;
    }
    void themeFromSettings()
    {
        QFETCH(QJsonObject, settings);
        QFETCH(Theme::Kind, kind);
        QCOMPARE(Theme::fromSettings(settings), kind);
        QTEST(Theme::resolved(kind, true), "onDarkDesktop");
        QTEST(Theme::resolved(kind, false), "onLightDesktop");
        QCOMPARE(SettingsDialog::themeIndex(settings), int(kind));
    }

    // The dark look is the original one; light is a different, complete one;
    // applying sets the window's sheet, the palette and the dialogs' sheets.
    void themesApply()
    {
        QCOMPARE(Theme::styleSheet(Theme::Kind::Dark), kOriginalDarkSheet);
        const QString light = Theme::styleSheet(Theme::Kind::Light);
        QVERIFY(!light.contains(u"#0f0f12"_s) && !light.contains(u"#00e5ff"_s));
        QCOMPARE(light.count(u'{'), kOriginalDarkSheet.count(u'{'));
        QVERIFY(Theme::isDark(Theme::palette(Theme::Kind::Dark)));
        QVERIFY(!Theme::isDark(Theme::palette(Theme::Kind::Light)));

        QWidget window;
        QCOMPARE(Theme::apply(&window, QJsonObject{{"theme", "light"}}), Theme::Kind::Light);
        QCOMPARE(window.styleSheet(), light);
        QCOMPARE(QApplication::palette().color(QPalette::Window), Theme::palette(Theme::Kind::Light).color(QPalette::Window));
        QVERIFY(Theme::recordTableStyleSheet().contains(u"#ffffff"_s));
        QCOMPARE(Theme::apply(&window, QJsonObject()), Theme::Kind::Dark);
        QCOMPARE(window.styleSheet(), kOriginalDarkSheet);
        QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(30, 30, 30));
        QVERIFY(Theme::recordTableStyleSheet().contains(u"#1e1e1e"_s));
        // The platform's palette of this test (Fusion's light one) stands for the desktop.
        QCOMPARE(Theme::apply(&window, QJsonObject{{"theme", "system"}}), Theme::Kind::Light);

        // The window's sheet makes buttons bare icons; a dialog's keep a frame.
        Theme::apply(&window, QJsonObject());
        TempDataDir dir;
        DataManager data;
        SettingsDialog dialog(&data, nullptr, nullptr, &window);
        dialog.show();
        const auto buttons = dialog.findChildren<QPushButton *>();
        const auto save = std::find_if(buttons.cbegin(), buttons.cend(),
                                       [](const QPushButton *b) { return b->text() == u"Save"_s; });
        QVERIFY(save != buttons.cend());
        // The button's top edge against the dialog just above it.
        const QImage shot = dialog.grab().toImage();
        const QRect edge((*save)->mapTo(&dialog, QPoint(0, 0)), (*save)->size());
        QVERIFY(shot.pixelColor(edge.center().x(), edge.top()) != shot.pixelColor(edge.center().x(), edge.top() - 3));
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
