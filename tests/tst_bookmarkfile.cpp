#include "BookmarksDialog.h"
#include "DataManager.h"
#include "ModalAnswerer.h"
#include "NetscapeBookmarks.h"
#include "TempDataDir.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>
#include <time.h>

using namespace Qt::StringLiterals;

namespace {
QByteArray sample(const QString &name)
{
    QFile f(QStringLiteral(ORVEX_TEST_DATA_DIR "/bookmarks/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A bookmark file around some <DT> lines.
QByteArray doc(const QByteArray &body)
{
    return "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n" + body
        + "\n</DL><p>\n";
}

// "url|title|added" of each parsed bookmark.
QStringList rows(const QList<NetscapeBookmarks::Bookmark> &bookmarks)
{
    QStringList out;
    for (const auto &b : bookmarks)
        out << b.url + u'|' + b.title + u'|' + b.added;
    return out;
}

QStringList storedRows(const QJsonArray &records)
{
    QStringList out;
    for (const QJsonValue &v : records)
        out << v[u"url"_s].toString() + u'|' + v[u"title"_s].toString() + u'|' + v[u"added"_s].toString();
    return out;
}

// Clicks Import and waits for the worker and the answered message box.
void importAndWait(BookmarksDialog &dialog, const ModalAnswerer &told, int messages)
{
    QSignalSpy done(&dialog, &BookmarksDialog::importFinished);
    QTest::mouseClick(dialog.importButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 20000);
    QCOMPARE(told.seen().size(), messages);
    QVERIFY(!dialog.isImporting());
    QVERIFY(dialog.importButton()->isEnabled());
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}
}

// The HTML bookmark file: reading other browsers' exports, writing one they read,
// and the import and export of the bookmarks dialog.
class TestBookmarkFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // ADD_DATE becomes the store's local-time stamp: fix the zone.
        qputenv("TZ", "UTC");
        tzset();
    }
    void init() { QTest::failOnWarning(QRegularExpression(u"^(?!This plugin does not support propagateSizeHints\\(\\)$)"_s)); }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("refused");

        QTest::newRow("chromium export") << sample(u"chromium.html"_s)
            << QStringList{"https://www.debian.org/|Bookmarks bar / Debian -- The Universal Operating System|2023-09-29T15:08:20",
                           "https://lwn.net/|Bookmarks bar / News & Blogs / LWN.net|2023-09-29T15:13:20",
                           "https://example.org/search?q=a&lang=en|Bookmarks bar / News & Blogs / Search \"a\" <en> 'quoted'|2023-09-29T15:15:00",
                           "https://www.qt.io/|Other bookmarks / Qt | Cross-platform software development|2023-09-29T15:21:40"}
            << 2; // javascript: and data:
        QTest::newRow("firefox export") << sample(u"firefox.html"_s)
            << QStringList{"https://www.mozilla.org/en-US/firefox/central/|Getting Started|2023-09-27T07:33:20",
                           "https://en.wikipedia.org/wiki/Café|Bookmarks Toolbar / Café – Wikipédia|2023-09-27T07:33:26",
                           "https://support.mozilla.org/en-US/products/firefox|Mozilla Firefox / Get Help|2023-09-27T07:33:30"}
            << 1; // place:
        QTest::newRow("lower case, unquoted and single-quoted attributes")
            << doc("<dt><a href=https://a.example/x add_date=1700000000>A</a>\n<dt><a Href='https://b.example/' ADD_date='1'>B</a>")
            << QStringList{"https://a.example/x|A|2023-11-14T22:13:20", "https://b.example/|B|1970-01-01T00:00:01"} << 0;
        QTest::newRow("link left open ends at the next") << doc("<DT><A HREF=\"https://a.example/\">First\n<DT><A HREF=\"https://b.example/\">Second</A>")
            << QStringList{"https://a.example/|First|", "https://b.example/|Second|"} << 0;
        QTest::newRow("markup and line breaks inside a title") << doc("<DT><A HREF=\"https://a.example/\"><b>Bold</b>\n   &amp;\tmore </A>")
            << QStringList{"https://a.example/|Bold & more|"} << 0;
        QTest::newRow("scripts, styles and comments hold no bookmarks")
            << doc("<script>document.write('<DT><A HREF=\"https://evil.example/\">x</A>')</script>"
                   "<style>a::after{content:'<A HREF=\"https://style.example/\">'}</style>"
                   "<!-- <DT><A HREF=\"https://comment.example/\">c</A> -->"
                   "<DT><A HREF=\"https://kept.example/\">Kept</A>")
            << QStringList{"https://kept.example/|Kept|"} << 0;
        QTest::newRow("an unclosed script swallows the rest") << doc("<DT><A HREF=\"https://a.example/\">A</A><SCRIPT><DT><A HREF=\"https://b.example/\">B</A>")
            << QStringList{"https://a.example/|A|"} << 0;
        QTest::newRow("character references") << doc("<DT><A HREF=\"https://a.example/?a=1&amp;b=2\">&#x1F600; &#233;t&eacute; &#0; &bogus; &amp;amp; &#xZZ; &#99999999999;</A>")
            << QStringList{"https://a.example/?a=1&b=2|\U0001F600 \u00e9t\u00e9 \uFFFD &bogus; &amp; &#xZZ; \uFFFD|"} << 0;
        QTest::newRow("ADD_DATE in milli- and microseconds, broken, missing")
            << doc("<DT><A HREF=\"https://ms.example/\" ADD_DATE=\"1700000000000\">ms</A>"
                   "<DT><A HREF=\"https://us.example/\" ADD_DATE=\"1700000000000000\">us</A>"
                   "<DT><A HREF=\"https://bad.example/\" ADD_DATE=\"soon\">bad</A>"
                   "<DT><A HREF=\"https://neg.example/\" ADD_DATE=\"-5\">neg</A>"
                   "<DT><A HREF=\"https://none.example/\">none</A>")
            << QStringList{"https://ms.example/|ms|2023-11-14T22:13:20", "https://us.example/|us|2023-11-14T22:13:20",
                           "https://bad.example/|bad|", "https://neg.example/|neg|", "https://none.example/|none|"}
            << 0;
        QTest::newRow("refused addresses")
            << doc("<DT><A HREF=\"javascript:void(0)\">js</A><DT><A HREF=\" JavaScript:alert(1)\">js2</A>"
                   "<DT><A HREF=\"data:text/html,hi\">data</A><DT><A HREF=\"about:blank\">about</A>"
                   "<DT><A HREF=\"chrome://settings\">chrome</A><DT><A HREF=\"https://\">no host</A>"
                   "<DT><A HREF=\"/relative\">relative</A><DT><A NAME=\"anchor\">no href</A><DT><A HREF=\"\">empty</A>"
                   "<DT><A HREF=\"ftp://ftp.debian.org/debian/\">ftp</A><DT><A HREF=\"file:///home/me/notes.html\">file</A>")
            << QStringList{"ftp://ftp.debian.org/debian/|ftp|", "file:///home/me/notes.html|file|"} << 9;
        QTest::newRow("empty title takes the address; spaces around it trimmed")
            << doc("<DT><H3>F</H3><DL><p><DT><A HREF=\"  https://a.example/  \">  </A></DL><p>")
            << QStringList{"https://a.example/|F / https://a.example/|"} << 0;
        QTest::newRow("a folder name without a list names nothing")
            << doc("<DT><H3>Empty</H3>\n<DT><A HREF=\"https://a.example/\">A</A>")
            << QStringList{"https://a.example/|A|"} << 0;
        QTest::newRow("the first of repeated attributes counts")
            << doc("<DT><A HREF=\"https://first.example/\" HREF=\"javascript:x\" ADD_DATE=\"1\" ADD_DATE=\"2\">A</A>")
            << QStringList{"https://first.example/|A|1970-01-01T00:00:01"} << 0;
        QTest::newRow("stray close tags and a lone angle bracket")
            << doc("</DL></DL></H3><DT><A HREF=\"https://a.example/\">1 < 2 > 0</A>")
            << QStringList{"https://a.example/|1 < 2 > 0|"} << 0;
        QTest::newRow("no doctype, but the list markup") << QByteArray("<DL><DT><A HREF=\"https://a.example/\">A</A></DL>")
            << QStringList{"https://a.example/|A|"} << 0;
        QTest::newRow("byte-order mark and CRLF") << QByteArray("\xEF\xBB\xBF" + doc("<DT><A HREF=\"https://a.example/\">A\r\nB</A>").replace("\n", "\r\n"))
            << QStringList{"https://a.example/|A B|"} << 0;
        QTest::newRow("only the doctype") << QByteArray("<!DOCTYPE NETSCAPE-Bookmark-file-1>") << QStringList{} << 0;
    }
    void parse()
    {
        QFETCH(QByteArray, html);
        QFETCH(QStringList, expected);
        QFETCH(int, refused);
        QVERIFY(!html.isEmpty());
        const NetscapeBookmarks::ParseResult result = NetscapeBookmarks::parse(html);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(rows(result.bookmarks), expected);
        QCOMPARE(result.refused, refused);
    }

    void notABookmarkFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("white space") << QByteArray(" \n\t ");
        QTest::newRow("plain text") << QByteArray("just some notes\nhttps://a.example/\n");
        QTest::newRow("JSON") << QByteArray("[{\"url\": \"https://a.example/\", \"title\": \"A\"}]");
        QTest::newRow("binary") << QByteArray("<!DOCTYPE NETSCAPE-Bookmark-file-1>\0\x01\x02", 38);
        QTest::newRow("a web page with links") << QByteArray("<html><body><a href=\"https://a.example/\">A</a></body></html>");
        QTest::newRow("a PNG image") << QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==");
    }
    void notABookmarkFile()
    {
        QFETCH(QByteArray, bytes);
        const NetscapeBookmarks::ParseResult result = NetscapeBookmarks::parse(bytes);
        QVERIFY(!result.ok);
        QCOMPARE(result.error, u"the file is not an HTML bookmark file"_s);
        QVERIFY(result.bookmarks.isEmpty());
    }

    // Endless nesting and endless text stay linear and bounded.
    void hostileStructure()
    {
        QByteArray deep = "<!DOCTYPE NETSCAPE-Bookmark-file-1>";
        for (int i = 0; i < 50000; ++i)
            deep += "<DT><H3>F</H3><DL>";
        deep += "<DT><A HREF=\"https://deep.example/\">" + QByteArray(100000, 'x') + "</A>";
        QElapsedTimer clock;
        clock.start();
        const NetscapeBookmarks::ParseResult result = NetscapeBookmarks::parse(deep);
        // Rebuilding the folder prefix from every level takes minutes here.
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(result.bookmarks.size(), 1);
        const QString title = result.bookmarks.first().title;
        QCOMPARE(title.size(), NetscapeBookmarks::maxTitleLength);
        QVERIFY(title.startsWith(u"F / F / "_s));
        QCOMPARE(title.count(u" / "_s), 32); // the first 32 levels name the prefix
    }

    void tooManyBookmarks()
    {
        QByteArray html = "<!DOCTYPE NETSCAPE-Bookmark-file-1><DL>";
        const QByteArray link = "<DT><A HREF=https://a.example/>a</A>\n";
        html.reserve(html.size() + link.size() * (NetscapeBookmarks::maxBookmarks + 1));
        for (int i = 0; i <= NetscapeBookmarks::maxBookmarks; ++i)
            html += link;
        const NetscapeBookmarks::ParseResult result = NetscapeBookmarks::parse(html);
        QVERIFY(!result.ok);
        QCOMPARE(result.error, u"the file holds more than 100000 bookmarks"_s);
        QVERIFY(result.bookmarks.isEmpty());
    }

    // What the dialog exports reads back the same, and is the format other browsers read.
    void writeRoundTrip()
    {
        const QJsonArray records{
            QJsonObject{{"url", "https://a.example/?x=1&y=2"}, {"title", "Tom & \"Jerry\" <3 'quotes'"}, {"added", "2023-11-14T22:13:20"}},
            QJsonObject{{"url", "https://b.example/"}, {"title", "Work / Line\nbreak"}, {"added", "not a date"}},
            QJsonObject{{"title", "no address"}},
            QJsonObject{{"url", "https://c.example/"}, {"title", ""}, {"added", "1970-01-01T00:00:01"}},
        };
        int written = 0;
        const QByteArray html = NetscapeBookmarks::write(records, &written);
        QCOMPARE(written, 3);
        QCOMPARE(html, QByteArray("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
                                  "<!-- This is an automatically generated file.\n"
                                  "     It will be read and overwritten.\n"
                                  "     DO NOT EDIT! -->\n"
                                  "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
                                  "<TITLE>Bookmarks</TITLE>\n"
                                  "<H1>Bookmarks</H1>\n"
                                  "<DL><p>\n"
                                  "    <DT><A HREF=\"https://a.example/?x=1&amp;y=2\" ADD_DATE=\"1700000000\">Tom &amp; &quot;Jerry&quot; &lt;3 &#39;quotes&#39;</A>\n"
                                  "    <DT><A HREF=\"https://b.example/\">Work / Line break</A>\n"
                                  "    <DT><A HREF=\"https://c.example/\" ADD_DATE=\"1\">https://c.example/</A>\n"
                                  "</DL><p>\n"));
        const NetscapeBookmarks::ParseResult back = NetscapeBookmarks::parse(html);
        QCOMPARE(rows(back.bookmarks), (QStringList{"https://a.example/?x=1&y=2|Tom & \"Jerry\" <3 'quotes'|2023-11-14T22:13:20",
                                                    "https://b.example/|Work / Line break|",
                                                    "https://c.example/|https://c.example/|1970-01-01T00:00:01"}));
    }

    // Addresses already stored (in any trivial spelling) or earlier in the list are
    // skipped; the rest are appended in order with their own time stamps.
    void addBookmarks_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("imported");
        QTest::addColumn<QStringList>("result");
        QTest::addColumn<int>("added");
        QTest::newRow("into an empty store") << QStringList{} << QStringList{"https://a/", "https://b/"}
                                             << QStringList{"https://a/", "https://b/"} << 2;
        QTest::newRow("stored ones skipped, order kept") << QStringList{"https://b/", "https://x.example"}
            << QStringList{"https://a/", "https://b/", "https://x.example/", "https://c/"}
            << QStringList{"https://b/", "https://x.example", "https://a/", "https://c/"} << 2;
        QTest::newRow("duplicates within the file") << QStringList{} << QStringList{"https://a/", "https://a/", "https://a"}
                                                    << QStringList{"https://a/"} << 1;
        QTest::newRow("nothing new") << QStringList{"https://a/"} << QStringList{"https://a/"} << QStringList{"https://a/"} << 0;
    }
    void addBookmarks()
    {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, imported);
        QFETCH(QStringList, result);
        QFETCH(int, added);
        TempDataDir dir;
        QList<DataManager::Bookmark> list;
        for (const QString &url : imported)
            list.append({url, u"T"_s, u"2001-02-03T04:05:06"_s});
        {
            DataManager data;
            for (auto it = stored.crbegin(); it != stored.crend(); ++it)
                data.addBookmark(*it, u"S"_s);
            QCOMPARE(data.addBookmarks(list), added);
        }
        const QJsonArray back = DataManager().getBookmarks();
        QStringList urls;
        for (const QJsonValue &v : back)
            urls << v[u"url"_s].toString();
        QCOMPARE(urls, result);
        if (added > 0)
            QCOMPARE(back.last()[u"added"_s].toString(), u"2001-02-03T04:05:06"_s);
    }

    // Import from the dialog: counts shown, duplicates counted on a second import,
    // the list refreshed; a missing time stamp becomes the import time.
    void dialogImportsAndCounts()
    {
        TempDataDir dir;
        DataManager data;
        data.addBookmark(u"https://lwn.net/"_s, u"Mine"_s);
        BookmarksDialog dialog(&data);
        const QString path = dir.downloadDir() + u"/bookmarks.html"_s;
        writeFile(path, sample(u"chromium.html"_s));
        dialog.setFileChooser([&](QWidget *, const QString &, const QString &, const QString &, bool save) {
            return save ? QString() : path;
        });
        ModalAnswerer told({u"OK"_s});
        importAndWait(dialog, told, 1);
        QCOMPARE(told.seen().last().label, u"Imported 3 bookmarks (3 skipped)"_s);
        QCOMPARE(dialog.tree()->topLevelItemCount(), 4);
        QCOMPARE(storedRows(DataManager().getBookmarks()).mid(1),
                 (QStringList{"https://www.debian.org/|Bookmarks bar / Debian -- The Universal Operating System|2023-09-29T15:08:20",
                              "https://example.org/search?q=a&lang=en|Bookmarks bar / News & Blogs / Search \"a\" <en> 'quoted'|2023-09-29T15:15:00",
                              "https://www.qt.io/|Other bookmarks / Qt | Cross-platform software development|2023-09-29T15:21:40"}));
        told.enqueue({u"OK"_s});
        importAndWait(dialog, told, 2);
        QCOMPARE(told.seen().last().label, u"Imported 0 bookmarks (6 skipped)"_s);

        writeFile(path, doc("<DT><A HREF=\"https://new.example/\">New</A>"));
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        told.enqueue({u"OK"_s});
        importAndWait(dialog, told, 3);
        QCOMPARE(told.seen().last().label, u"Imported 1 bookmarks (0 skipped)"_s);
        const QDateTime stamp = QDateTime::fromString(data.getBookmarks().last()[u"added"_s].toString(), Qt::ISODate);
        QVERIFY(stamp >= before && stamp <= QDateTime::currentDateTime().addSecs(1));
    }

    // A huge file is refused at once from its size, a file that is not a bookmark
    // file or not a regular file with a clear reason; the store stays as it was.
    void dialogRefusesBadFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("100 MB") << u"huge"_s << u"Import failed: the file is larger than 32 MB"_s;
        QTest::newRow("not HTML") << u"text"_s << u"Import failed: the file is not an HTML bookmark file"_s;
        QTest::newRow("a folder") << u"folder"_s << u"Import failed: it is not a regular file"_s;
        QTest::newRow("a pipe") << u"fifo"_s << u"Import failed: it is not a regular file"_s;
        QTest::newRow("gone") << u"missing"_s << u"Import failed: the file does not exist"_s;
    }
    void dialogRefusesBadFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        TempDataDir dir;
        DataManager data;
        data.addBookmark(u"https://kept.example/"_s, u"Kept"_s);
        const QByteArray store = dir.readFile(u"bookmarks.json"_s);
        QString path = dir.downloadDir() + u"/input"_s;
        if (kind == u"huge"_s) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.write(doc("")) > 0);
            QVERIFY(f.resize(100 * 1024 * 1024)); // sparse: no disk needed
        } else if (kind == u"text"_s) {
            writeFile(path, "just some notes\n");
        } else if (kind == u"folder"_s) {
            path = dir.downloadDir();
        } else if (kind == u"fifo"_s) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        BookmarksDialog dialog(&data);
        dialog.setFileChooser([&](QWidget *, const QString &, const QString &, const QString &, bool) { return path; });
        ModalAnswerer told({u"OK"_s});
        QElapsedTimer clock;
        clock.start();
        importAndWait(dialog, told, 1);
        QCOMPARE(told.seen().last().label, message);
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(dir.readFile(u"bookmarks.json"_s), store);
        QCOMPARE(dialog.tree()->topLevelItemCount(), 1);
    }

    // A large export (icons included, just under the size cap) is read and parsed
    // off the GUI thread: the click returns at once, the window keeps working.
    void largeImportRunsInTheBackground()
    {
        TempDataDir dir;
        DataManager data;
        const QByteArray icon = " ICON=\"data:image/png;base64," + QByteArray(1500, 'A') + "\"";
        QByteArray html = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n";
        int count = 0;
        while (html.size() < NetscapeBookmarks::maxFileBytes - 4096) {
            html += "<DT><A HREF=\"https://site" + QByteArray::number(count) + ".example/\" ADD_DATE=\"1700000000\"" + icon
                + ">Page " + QByteArray::number(count) + "</A>\n";
            ++count;
        }
        html += "</DL><p>\n";
        const QString path = dir.downloadDir() + u"/large.html"_s;
        writeFile(path, html);
        BookmarksDialog dialog(&data);
        dialog.setFileChooser([&](QWidget *, const QString &, const QString &, const QString &, bool) { return path; });
        ModalAnswerer told({u"OK"_s});
        QSignalSpy done(&dialog, &BookmarksDialog::importFinished);
        QTest::mouseClick(dialog.importButton(), Qt::LeftButton);
        QVERIFY(dialog.isImporting());
        QVERIFY(!dialog.importButton()->isEnabled());
        QTest::mouseClick(dialog.importButton(), Qt::LeftButton); // no second import meanwhile
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 60000);
        QCOMPARE(told.seen().size(), 1);
        QCOMPARE(told.seen().last().label, BookmarksDialog::importSummary(count, 0));
        QCOMPARE(DataManager().getBookmarks().size(), count);
    }

    // Export writes the file; reading it back gives the same bookmarks; an
    // unwritable place is reported, not claimed as done.
    void dialogExports()
    {
        TempDataDir dir;
        DataManager data;
        data.addBookmark(u"https://b.example/"_s, u"B & b"_s);
        data.addBookmark(u"https://a.example/"_s, u"A"_s);
        BookmarksDialog dialog(&data);
        QString path = dir.downloadDir() + u"/out.html"_s;
        QString suggested;
        dialog.setFileChooser([&](QWidget *, const QString &, const QString &dirOrFile, const QString &, bool save) {
            suggested = dirOrFile;
            return save ? path : QString();
        });
        ModalAnswerer told({u"OK"_s});
        QTest::mouseClick(dialog.exportButton(), Qt::LeftButton);
        QCOMPARE(suggested, dir.downloadDir() + u"/bookmarks.html"_s);
        QCOMPARE(told.seen().last().label, u"Exported 2 bookmarks to "_s + path);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const NetscapeBookmarks::ParseResult back = NetscapeBookmarks::parse(f.readAll());
        QStringList urls;
        for (const auto &b : back.bookmarks)
            urls << b.url + u'|' + b.title;
        QCOMPARE(urls, (QStringList{"https://a.example/|A", "https://b.example/|B & b"}));

        path = u"/proc/orvex-cannot-write/out.html"_s;
        told.enqueue({u"OK"_s});
        QTest::mouseClick(dialog.exportButton(), Qt::LeftButton);
        QCOMPARE(told.seen().last().label, u"Export failed: could not write "_s + path);
    }
};

QTEST_MAIN(TestBookmarkFile)
#include "tst_bookmarkfile.moc"
