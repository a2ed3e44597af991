#include "BrowserWindow.h"
#include "DataManager.h"
#include "DownloadManager.h"
#include "FakeTools.h"
#include "MainWindow.h"
#include "ModalAnswerer.h"
#include "ServiceEndpoints.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"
#include "Theme.h"
#include "WebSettingsApplier.h"

#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QtTest>
#include <QtWidgets>
#include <memory>

using namespace Qt::StringLiterals;

static constexpr int Slow = 20000; // page loads on a busy machine

namespace {
const QByteArray kPdf = "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                        "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
                        "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]>>endobj\n"
                        "trailer<</Root 1 0 R>>\n%%EOF\n";

// The script's value; an invalid QVariant when the page gives none in time.
QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < Slow)
        QTest::qWait(10);
    return result;
}

// Changes the settings in the real dialog, as a person would, and saves.
void changeSettings(MainWindow &w, const std::function<void(QDialog *)> &change)
{
    ModalAnswerer::answer([change](QWidget *widget) {
        auto *dialog = qobject_cast<QDialog *>(widget);
        if (!dialog) {
            widget->close();
            return;
        }
        change(dialog);
        for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
            if (button->text() == u"Save"_s)
                button->click();
        }
    });
    w.onSettings();
}

void setBox(QDialog *dialog, const QString &caption, bool on)
{
    for (QCheckBox *box : dialog->findChildren<QCheckBox *>()) {
        if (box->text() == caption)
            box->setChecked(on);
    }
}

void setCombo(QDialog *dialog, const QString &item)
{
    for (QComboBox *box : dialog->findChildren<QComboBox *>()) {
        if (const int i = box->findText(item); i >= 0)
            box->setCurrentIndex(i);
    }
}
}

// The engine-side settings in the real window: every open tab and every new
// one follows a Save at once; the colour scheme pages see comes from the
// start-up switch.
class TestWebSettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<FakeTools> tools;
    std::unique_ptr<TestHttpServer> server;

    static BrowserWindow *tabAt(MainWindow &w, int i) { return qobject_cast<BrowserWindow *>(w.tabs()->widget(i)); }
    void load(BrowserWindow *tab, const char *path, const QString &title)
    {
        tab->loadUrl(server->url(QString::fromLatin1(path)));
        QTRY_COMPARE_WITH_TIMEOUT(tab->title(), title, Slow);
    }

private Q_SLOTS:
    void init()
    {
        if (qEnvironmentVariableIsSet("ORVEX_COLOR_PROBE"))
            return;
        QTest::failOnWarning(QRegularExpression(QStringLiteral(
            "^(?!This plugin does not support|No suitable graphics backend|WebEngineContext used before).*")));
        dir = std::make_unique<TempDataDir>();
        tools = std::make_unique<FakeTools>();
        tools->setIpOutputFromSample(u"openvpn-tun-up"_s);
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->listen());
        server->setPage("/", "<title>Home</title>");
        server->setPage("/js", "<html><head><title>no script</title>"
                               "<script>document.title = 'script ran'</script></head><body>text</body></html>");
        server->setPage("/doc.pdf", kPdf, "application/pdf");
        ServiceEndpoints::setAccountUrl(server->baseUrl());
    }
    void cleanup()
    {
        BrowserWindow::finishPendingPrints();
        server.reset();
        tools.reset();
        dir.reset();
        ServiceEndpoints::reset();
    }

    // Font size, JavaScript and the theme change in the open tabs and the new ones.
    void saveAppliesToEveryTab()
    {
        MainWindow w;
        w.onNewTab();
        for (int i = 0; i < 2; ++i)
            load(tabAt(w, i), "/js", u"script ran"_s);
        const QString fontSize = u"getComputedStyle(document.body).fontSize"_s;
        QCOMPARE(evaluate(tabAt(w, 1)->webView()->page(), fontSize).toString(), u"16px"_s);

        changeSettings(w, [](QDialog *d) { setCombo(d, u"Large"_s); setCombo(d, u"Light"_s); });
        QCOMPARE(DataManager().getSettings().value(u"fontSize"_s).toString(), u"large"_s);
        // Already open pages re-render with the new size, without a reload.
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(tabAt(w, 0)->webView()->page(), fontSize).toString(), u"20px"_s, Slow);
        QCOMPARE(evaluate(tabAt(w, 1)->webView()->page(), fontSize).toString(), u"20px"_s);
        QCOMPARE(w.styleSheet(), Theme::styleSheet(Theme::Kind::Light));
        QVERIFY(!Theme::isDark(QApplication::palette()));

        changeSettings(w, [](QDialog *d) { setBox(d, u"Enable JavaScript"_s, false); setCombo(d, u"Dark"_s); });
        QCOMPARE(w.styleSheet(), Theme::styleSheet(Theme::Kind::Dark));
        for (int i = 0; i < 2; ++i)
            QVERIFY(!tabAt(w, i)->webView()->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));
        tabAt(w, 0)->reload();
        QTRY_COMPARE_WITH_TIMEOUT(tabAt(w, 0)->title(), u"no script"_s, Slow);
        w.onNewTab();
        load(tabAt(w, 2), "/js", u"no script"_s);

        // A restart reads the same: the next window's first tab runs no script either.
        changeSettings(w, [](QDialog *d) { setCombo(d, u"Small"_s); });
        MainWindow again;
        QCOMPARE(again.data()->getSettings().value(u"enableJavaScript"_s), QJsonValue(false));
        load(tabAt(again, 0), "/js", u"no script"_s);
        changeSettings(again, [](QDialog *d) { setBox(d, u"Enable JavaScript"_s, true); });
        load(tabAt(again, 0), "/js", u"script ran"_s);
        QCOMPARE(evaluate(tabAt(again, 0)->webView()->page(), fontSize).toString(), u"12px"_s);
    }

    // "Enable Plugins" is the built-in PDF viewer: on, a PDF shows in the tab;
    // off, it becomes a download.
    void pluginsAreThePdfViewer()
    {
        MainWindow w;
        QSignalSpy loaded(tabAt(w, 0), &BrowserWindow::loadFinished);
        tabAt(w, 0)->loadUrl(server->url(u"/doc.pdf"_s));
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty() && loaded.last().first().toBool(), Slow);
        QCOMPARE(tabAt(w, 0)->url(), server->url(u"/doc.pdf"_s));
        QTest::qWait(500);
        QCOMPARE(w.downloads()->downloadCount(), 0);

        changeSettings(w, [](QDialog *d) { setBox(d, u"Enable Plugins"_s, false); });
        w.onNewTab();
        tabAt(w, 1)->loadUrl(server->url(u"/doc.pdf"_s));
        QTRY_COMPARE_WITH_TIMEOUT(w.downloads()->downloadCount(), 1, Slow);
    }

    // Pages see the colour scheme the start-up switch asks for, also after the
    // settings change (the engine rebuilds a page's preferences then). The
    // switch is read once per process: each case runs in a fresh one.
    void colorSchemeReachesPages_data()
    {
        QTest::addColumn<QByteArray>("userFlags");
        QTest::addColumn<bool>("dark");
        QTest::newRow("dark") << QByteArray() << true;
        QTest::newRow("light") << QByteArray() << false;
        QTest::newRow("dark, joined to the user's list") << QByteArray("--blink-settings=imagesEnabled=true") << true;
    }
    void colorSchemeReachesPages()
    {
        QFETCH(QByteArray, userFlags);
        QFETCH(bool, dark);
        const QByteArray flags = WebSettingsApplier::colorSchemeFlags(
            qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + ' ' + userFlags,
            dark ? WebSettingsApplier::ColorScheme::Dark : WebSettingsApplier::ColorScheme::Light);
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"ORVEX_COLOR_PROBE"_s, u"1"_s);
        env.insert(u"QTWEBENGINE_CHROMIUM_FLAGS"_s, QString::fromLatin1(flags));
        probe.setProcessEnvironment(env);
        probe.start(QCoreApplication::applicationFilePath(), {u"colorSchemeProbe"_s});
        QVERIFY(probe.waitForFinished(60000));
        const QString out = QString::fromUtf8(probe.readAllStandardOutput());
        const QString expected = dark ? u"scheme: dark dark"_s : u"scheme: light light"_s;
        QVERIFY2(out.contains(expected), qPrintable(out + QString::fromUtf8(probe.readAllStandardError())));
    }

    // Run by colorSchemeReachesPages in a child process.
    void colorSchemeProbe()
    {
        if (!qEnvironmentVariableIsSet("ORVEX_COLOR_PROBE"))
            QSKIP("runs in a child process of colorSchemeReachesPages");
        QWebEngineView view;
        const QString query = u"matchMedia('(prefers-color-scheme: dark)').matches ? 'dark' : 'light'"_s;
        QSignalSpy loaded(view.page(), &QWebEnginePage::loadFinished);
        view.setHtml(u"<p>x</p>"_s);
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, Slow);
        const QString first = evaluate(view.page(), query).toString();
        WebSettingsApplier::apply(view.page()->profile()->settings(), QJsonObject{{"fontSize", "large"}});
        view.setHtml(u"<p>y</p>"_s);
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 2, Slow);
        const QString second = evaluate(view.page(), query).toString();
        std::printf("scheme: %s %s\n", qPrintable(first), qPrintable(second));
        std::fflush(stdout);
    }
};

QTEST_MAIN(TestWebSettings)
#include "tst_websettings.moc"
