#include "SearchManager.h"
#include "TempDataDir.h"

#include <QtTest>

using namespace Qt::StringLiterals;

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
        QTest::newRow("reserved") << q << "a b&+#?/=%" << "https://s.test/?q=a%20b%26%2B%23%3F%2F%3D%25";
        QTest::newRow("non-ASCII byte-wise") << q << u"\u00E9\U0001F600"_s << "https://s.test/?q=%C3%A9%F0%9F%98%80";
        QTest::newRow("placeholder in query") << q << "%s" << "https://s.test/?q=%25s";
        QTest::newRow("javascript refused") << "javascript:alert('%s')" << "a b" << "";
        QTest::newRow("no host refused") << "https:%s" << "a b" << "";
    }
    void engineUrl()
    {
        QFETCH(QString, templ);
        QFETCH(QString, query);
        QTEST(SearchEngine(u"T"_s, u"t"_s, templ).searchUrl(query).toString(QUrl::FullyEncoded), "expected");
    }

    // A hostile template searches nowhere; a damaged file gives the built-ins
    // and is kept aside untouched.
    void enginesFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("search");
        QTest::addColumn<bool>("keptAside");
        QTest::newRow("untrusted template")
            << QByteArray("{\"default\":\"x\",\"engines\":[{\"keyword\":\"x\",\"url\":\"javascript:alert(%s)\"}]}")
            << QString() << false;
        QTest::newRow("damaged") << QByteArray("{\"default\":\"a\",\"engines\":[{\"na")
                                 << "https://www.google.com/search?q=z" << true;
    }
    void enginesFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, keptAside);
        TempDataDir dir;
        dir.writeFile(u"search_engines.json"_s, content);
        if (keptAside)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"unreadable data in .*search_engines\\.json"_s));
        SearchManager sm;
        QTEST(sm.searchUrl(u"z"_s).toString(), "search");
        QCOMPARE(dir.readFile(u"search_engines.json"_s), content);
        const QStringList backups = QDir(dir.dataFolder()).entryList({u"search_engines.json.corrupt-*"_s}, QDir::Files);
        QCOMPARE(backups.size(), keptAside ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestSearchManager)
#include "tst_searchmanager.moc"
