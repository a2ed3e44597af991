#include "BrowserWindow.h"
#include "PageScript.h"
#include "PrivacyEngine.h"

#include <QtTest>

// The page scripts live in the resources as templates; these check the
// literals that fill them and that every script the browser builds comes
// out whole.
class TestPageScript : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void stringLiteral_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "abc" << "\"abc\"";
        QTest::newRow("quote and backslash") << "a\"b\\c" << "\"a\\\"b\\\\c\"";
        QTest::newRow("line breaks") << "a\nb\rc" << "\"a\\nb\\rc\"";
        // Line terminators to JavaScript, though not to JSON.
        QTest::newRow("separators") << QString::fromUtf16(u"a\u2028b\u2029") << "\"a\\u2028b\\u2029\"";
        QTest::newRow("selector with quotes") << "a[href=\"x\"] > .y" << "\"a[href=\\\"x\\\"] > .y\"";
    }
    void stringLiteral()
    {
        QFETCH(QString, text);
        QTEST(PageScript::string(text), "expected");
    }

    void fill_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("mustHold");
        QTest::newRow("array") << "trackingprotection.js" << "const trackingDomains = [\"a\\\"b\", \"c\"];";
        QTest::newRow("string") << "stylesheet.js" << "style.textContent = \"p { }\\n\";";
        QTest::newRow("boolean") << "cookieblocking.js" << "const BLOCK_ALL_COOKIES = false;";
    }
    void fill()
    {
        QFETCH(QString, name);
        const QHash<QString, QString> values{
            {"TRACKER_DOMAINS", PageScript::array({"a\"b", "c"})},
            {"STYLE_SHEET", PageScript::string(u"p { }\n")},
            {"BLOCK_ALL_COOKIES", PageScript::boolean(false)},
        };
        const QString script = PageScript::fill(name, values);
        QFETCH(QString, mustHold);
        QVERIFY2(script.contains(mustHold), qPrintable(script.left(600)));
        QVERIFY(!script.contains(QLatin1String("\"@")));
    }

    // What the tabs get: every template found and every placeholder filled.
    void builtScriptsAreWhole()
    {
        PrivacyEngine engine;
        const QStringList scripts{engine.getAdBlockingJS(), engine.getTrackingProtectionJS(),
                                  engine.getFingerprintProtectionJS(), engine.getCookieBlockingJS(),
                                  BrowserWindow::readerModeScript()};
        for (const QString &script : scripts) {
            QVERIFY(script.contains(QLatin1String("(function")));
            QVERIFY2(!script.contains(QLatin1String("\"@")), qPrintable(script.left(300)));
        }
        QVERIFY(engine.getFontBlockingCSS().contains(QLatin1String("font-family")));
        QVERIFY(PageScript::source(QStringLiteral("no-such-script.js")).isEmpty());
    }
};

QTEST_MAIN(TestPageScript)
#include "tst_pagescript.moc"
