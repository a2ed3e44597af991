#include "SearchManager.h"
#include "TempDataDir.h"

#include <QtTest>

using namespace Qt::StringLiterals;

static QStringList keywordsOf(const QList<SearchEngine> &engines)
{
    QStringList out;
    for (const SearchEngine &e : engines)
        out << e.keyword;
    return out;
}

class TestSearchManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void engineUrl_data()
    {
        QTest::addColumn<QString>("templ");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("expected");
        const QString q = u"https://s.test/?q=%s"_s;
        QTest::newRow("blank, ampersand, plus") << q << "a b&c+" << "https://s.test/?q=a%20b%26c%2B";
        QTest::newRow("unreserved kept") << q << "A-z_0.9~" << "https://s.test/?q=A-z_0.9~";
        QTest::newRow("reserved") << q << "#?/=%" << "https://s.test/?q=%23%3F%2F%3D%25";
        QTest::newRow("non-ASCII byte-wise") << q << u"\u00E9\U0001F600"_s << "https://s.test/?q=%C3%A9%F0%9F%98%80";
        QTest::newRow("placeholder in query") << q << "%s" << "https://s.test/?q=%25s";
        QTest::newRow("every placeholder filled") << "https://s.test/%s?q=%s" << "a b" << "https://s.test/a%20b?q=a%20b";
        QTest::newRow("no placeholder drops query") << "https://s.test/home" << "a b" << "https://s.test/home";
        QTest::newRow("http") << "http://s.test/?q=%s" << "a b" << "http://s.test/?q=a%20b";
        QTest::newRow("javascript refused") << "javascript:alert('%s')" << "a b" << "";
        QTest::newRow("file refused") << "file:///etc/passwd?%s" << "a b" << "";
        QTest::newRow("data refused") << "data:text/html,%s" << "a b" << "";
        QTest::newRow("no host refused") << "https:%s" << "a b" << "";
        QTest::newRow("empty template") << "" << "a b" << "";
    }
    void engineUrl()
    {
        QFETCH(QString, templ);
        QFETCH(QString, query);
        QTEST(SearchEngine(u"T"_s, u"t"_s, templ).searchUrl(query).toString(QUrl::FullyEncoded), "expected");
    }

    void editingPersistsAndUnknownDefaultFallsBack()
    {
        TempDataDir dir;
        {
            SearchManager sm;
            QCOMPARE(sm.searchUrl(u"x+y"_s, u"yahoo"_s).toString(QUrl::FullyEncoded), u"https://search.yahoo.com/search?p=x%2By"_s);
            sm.addEngine(SearchEngine(u"Mine"_s, u"m"_s, u"https://m.test/?q=%s"_s));
            sm.updateEngine(u"yahoo"_s, SearchEngine(u"Y2"_s, u"y2"_s, u"https://y2.test/%s"_s));
            sm.setDefaultEngine(u"y2"_s);
        }
        SearchManager sm;
        QCOMPARE(keywordsOf(sm.searchEngines()), (QStringList{"google", "ddg", "bing", "y2", "startpage", "m"}));
        QCOMPARE(sm.searchUrl(u"q"_s).host(), u"y2.test"_s);
        sm.removeEngine(u"y2"_s);
        QCOMPARE(sm.searchUrl(u"q"_s).host(), u"www.google.com"_s);
        QCOMPARE(sm.searchUrl(u"q"_s, u"Bing"_s).host(), u"www.google.com"_s); // keywords are case-sensitive
    }

    void enginesFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<QString>("search");
        QTest::addColumn<bool>("keptAside");
        const QStringList builtIn{"google", "ddg", "bing", "yahoo", "startpage"};
        const QString google = u"https://www.google.com/search?q=z"_s;
        QTest::newRow("own list, missing default: first engine")
            << QByteArray("{\"engines\":[{\"keyword\":\"a\",\"url\":\"https://a.test/?q=%s\"},{\"keyword\":\"b\",\"url\":\"https://b.test/%s\"}]}")
            << QStringList{"a", "b"} << "https://a.test/?q=z" << false;
        QTest::newRow("untrusted template")
            << QByteArray("{\"default\":\"x\",\"engines\":[{\"keyword\":\"x\",\"url\":\"javascript:alert(%s)\"}]}")
            << QStringList{"x"} << QString() << false;
        QTest::newRow("odd elements load as blanks")
            << QByteArray("{\"default\":\"b\",\"engines\":[1,{\"keyword\":\"b\",\"url\":\"https://b.test/%s\"}]}")
            << QStringList{"", "b"} << "https://b.test/z" << false;
        QTest::newRow("damaged: built-ins, kept aside") << QByteArray("{\"default\":\"a\",\"engines\":[{\"na") << builtIn << google << true;
        QTest::newRow("array: built-ins, kept aside") << QByteArray("[]") << builtIn << google << true;
        QTest::newRow("no file: built-ins, nothing written") << QByteArray() << builtIn << google << false;
    }
    void enginesFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, keptAside);
        TempDataDir dir;
        if (!content.isNull())
            dir.writeFile(u"search_engines.json"_s, content);
        if (keptAside)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"unreadable data in .*search_engines\\.json"_s));
        SearchManager sm;
        QTEST(keywordsOf(sm.searchEngines()), "keywords");
        QTEST(sm.searchUrl(u"z"_s).toString(), "search");
        QCOMPARE(QFileInfo::exists(dir.dataFolder()), !content.isNull());
        QCOMPARE(dir.readFile(u"search_engines.json"_s), content);
        const QStringList backups = QDir(dir.dataFolder()).entryList({u"search_engines.json.corrupt-*"_s}, QDir::Files);
        QCOMPARE(backups.size(), keptAside ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestSearchManager)
#include "tst_searchmanager.moc"
