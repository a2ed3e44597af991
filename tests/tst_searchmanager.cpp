#include "SearchManager.h"
#include "TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
QStringList keywordsOf(const QList<SearchEngine> &engines)
{
    QStringList out;
    for (const SearchEngine &e : engines)
        out << e.keyword;
    return out;
}

QByteArray enginesJson(const QString &defaultKeyword, const QList<SearchEngine> &engines)
{
    QJsonArray list;
    for (const SearchEngine &e : engines)
        list.append(QJsonObject{{u"name"_s, e.name},
                                {u"keyword"_s, e.keyword},
                                {u"url"_s, e.url},
                                {u"default"_s, e.isDefault}});
    return QJsonDocument(QJsonObject{{u"default"_s, defaultKeyword}, {u"engines"_s, list}}).toJson();
}
}

class TestSearchManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void builtInTemplates_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("expected");
        QTest::newRow("google") << "google" << "https://www.google.com/search?q=x%2By";
        QTest::newRow("ddg") << "ddg" << "https://duckduckgo.com/?q=x%2By";
        QTest::newRow("bing") << "bing" << "https://www.bing.com/search?q=x%2By";
        QTest::newRow("yahoo") << "yahoo" << "https://search.yahoo.com/search?p=x%2By";
        QTest::newRow("startpage") << "startpage" << "https://www.startpage.com/sp/search?query=x%2By";
        QTest::newRow("unknown keyword: default") << "nope" << "https://www.google.com/search?q=x%2By";
        QTest::newRow("keyword is case-sensitive") << "Bing" << "https://www.google.com/search?q=x%2By";
    }
    void builtInTemplates()
    {
        QFETCH(QString, keyword);
        TempDataDir dir;
        QTEST(SearchManager().searchUrl(u"x+y"_s, keyword).toString(QUrl::FullyEncoded), "expected");
    }

    void engineUrl_data()
    {
        QTest::addColumn<QString>("templ");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("expected");
        const QString q = u"https://s.test/?q=%s"_s;
        QTest::newRow("blank and ampersand") << q << "a b&c" << "https://s.test/?q=a%20b%26c";
        QTest::newRow("unreserved kept") << q << "A-z_0.9~" << "https://s.test/?q=A-z_0.9~";
        QTest::newRow("reserved") << q << "#?/=%" << "https://s.test/?q=%23%3F%2F%3D%25";
        QTest::newRow("non-ASCII byte-wise") << q << u"\u00E9\u20AC"_s << "https://s.test/?q=%C3%A9%E2%82%AC";
        QTest::newRow("astral") << q << u"\U0001F600"_s << "https://s.test/?q=%F0%9F%98%80";
        QTest::newRow("placeholder in query") << q << "%s" << "https://s.test/?q=%25s";
        QTest::newRow("empty query") << q << "" << "https://s.test/?q=";
        QTest::newRow("every placeholder filled") << "https://s.test/%s?q=%s" << "a b" << "https://s.test/a%20b?q=a%20b";
        QTest::newRow("no placeholder drops query") << "https://s.test/home" << "a b" << "https://s.test/home";
        QTest::newRow("placeholder case-sensitive") << "https://s.test/?q=%S" << "a b" << "https://s.test/?q=%25S";
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
        const SearchEngine engine(u"T"_s, u"t"_s, templ);
        QTEST(engine.searchUrl(query).toString(QUrl::FullyEncoded), "expected");
    }

    void defaultSelection()
    {
        TempDataDir dir;
        SearchManager sm;
        sm.setDefaultEngine(u"ddg"_s);
        QCOMPARE(sm.defaultEngine().keyword, u"ddg"_s);
        QVERIFY(!sm.defaultEngine().isDefault); // flags are not consulted or changed
        QCOMPARE(sm.searchUrl(u"q"_s, u"bing"_s).host(), u"www.bing.com"_s);
        QCOMPARE(sm.searchUrl(u"q"_s).host(), u"duckduckgo.com"_s);

        sm.setDefaultEngine(u"nothing"_s);
        QCOMPARE(sm.defaultEngine().keyword, u"google"_s);
        QCOMPARE(sm.defaultKeyword(), u"nothing"_s);

        sm.setDefaultEngine(u"bing"_s);
        sm.removeEngine(u"bing"_s);
        QCOMPARE(sm.defaultKeyword(), u"bing"_s);
        QCOMPARE(sm.searchUrl(u"q"_s).host(), u"www.google.com"_s);
    }

    void editingAndPersistence()
    {
        TempDataDir dir;
        const SearchEngine mine(u"Mine"_s, u"m"_s, u"https://m.test/?q=%s"_s);
        const SearchEngine twin(u"Twin"_s, u"m"_s, u"https://twin.test/?q=%s"_s);
        {
            SearchManager sm;
            sm.addEngine(mine);
            sm.addEngine(twin); // duplicates are kept
            QCOMPARE(keywordsOf(sm.searchEngines()), (QStringList{"google", "ddg", "bing", "yahoo", "startpage", "m", "m"}));
            QCOMPARE(sm.searchUrl(u"q"_s, u"m"_s).host(), u"m.test"_s);
            sm.removeEngine(u"m"_s); // only the first
            QCOMPARE(sm.searchEngines().last(), twin);
            sm.updateEngine(u"yahoo"_s, SearchEngine(u"Y2"_s, u"y2"_s, u"https://y2.test/%s"_s, true));
            sm.updateEngine(u"absent"_s, mine); // no match: unchanged
            sm.setDefaultEngine(u"y2"_s);
        }
        SearchManager sm;
        QCOMPARE(keywordsOf(sm.searchEngines()), (QStringList{"google", "ddg", "bing", "y2", "startpage", "m"}));
        QCOMPARE(sm.searchEngines().at(3), SearchEngine(u"Y2"_s, u"y2"_s, u"https://y2.test/%s"_s, true));
        QCOMPARE(sm.defaultEngine().name, u"Y2"_s);

        const QJsonObject root = QJsonDocument::fromJson(dir.readFile(u"search_engines.json"_s)).object();
        QCOMPARE(root.keys(), (QStringList{"default", "engines"}));
        QCOMPARE(root.value(u"engines"_s).toArray().at(0).toObject().keys(),
                 (QStringList{"default", "keyword", "name", "url"}));
    }

    void enginesFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<QString>("defaultKeyword");
        QTest::addColumn<QString>("search");
        QTest::addColumn<bool>("keptAside");
        const QStringList builtIn{"google", "ddg", "bing", "yahoo", "startpage"};
        const QString google = u"https://www.google.com/search?q=z"_s;
        QTest::newRow("empty object: empty list")
            << QByteArray("{}") << QStringList() << QString() << QString() << false;
        QTest::newRow("no engines array: empty list")
            << QByteArray("{\"default\":\"google\"}") << QStringList() << "google" << QString() << false;
        QTest::newRow("own list, missing default: first engine")
            << enginesJson(QString(), {SearchEngine("A", "a", "https://a.test/?q=%s"), SearchEngine("B", "b", "https://b.test/?q=%s")})
            << QStringList{"a", "b"} << QString() << "https://a.test/?q=z" << false;
        QTest::newRow("untrusted template") << enginesJson("x", {SearchEngine("X", "x", "javascript:alert(%s)")})
            << QStringList{"x"} << "x" << QString() << false;
        QTest::newRow("odd elements load as blanks")
            << QByteArray("{\"default\":\"b\",\"engines\":[1,{\"keyword\":\"b\",\"url\":\"https://b.test/%s\"}]}")
            << QStringList{"", "b"} << "b" << "https://b.test/z" << false;
        QTest::newRow("damaged: built-ins, kept aside")
            << QByteArray("{\"default\":\"a\",\"engines\":[{\"na") << builtIn << "google" << google << true;
        QTest::newRow("array: built-ins, kept aside") << QByteArray("[]") << builtIn << "google" << google << true;
        QTest::newRow("empty file: built-ins") << QByteArray("") << builtIn << "google" << google << false;
        QTest::newRow("no file: built-ins, nothing written") << QByteArray() << builtIn << "google" << google << false;
    }
    void enginesFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, keywords);
        QFETCH(QString, defaultKeyword);
        QFETCH(QString, search);
        QFETCH(bool, keptAside);
        TempDataDir dir;
        if (!content.isNull())
            dir.writeFile(u"search_engines.json"_s, content);
        if (keptAside)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"unreadable data in .*search_engines\\.json"_s));
        SearchManager sm;
        QCOMPARE(keywordsOf(sm.searchEngines()), keywords);
        QCOMPARE(sm.defaultKeyword(), defaultKeyword);
        QCOMPARE(sm.searchUrl(u"z"_s).toString(), search);
        QCOMPARE(sm.searchUrl(u"z"_s, u"google"_s).toString(), search);
        QCOMPARE(sm.getEnginesPath(), dir.filePath(u"search_engines.json"_s));
        QCOMPARE(QFileInfo::exists(dir.dataFolder()), !content.isNull()); // loading writes nothing
        QCOMPARE(dir.readFile(u"search_engines.json"_s), content);
        const QStringList backups = QDir(dir.dataFolder()).entryList({u"search_engines.json.corrupt-*"_s}, QDir::Files);
        QCOMPARE(backups.size(), keptAside ? 1 : 0);
        if (keptAside)
            QCOMPARE(dir.readFile(backups.first()), content);
    }

    void unwritableFileKeepsChangeInMemory()
    {
        TempDataDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(u"search_engines.json/inner"_s)));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"SearchManager: cannot read .*"_s));
        SearchManager sm;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"SearchManager: could not write .*"_s));
        sm.setDefaultEngine(u"ddg"_s);
        QCOMPARE(sm.defaultEngine().keyword, u"ddg"_s);
        QVERIFY(QFileInfo(dir.filePath(u"search_engines.json"_s)).isDir());
    }
};

QTEST_GUILESS_MAIN(TestSearchManager)
#include "tst_searchmanager.moc"
