#include "FilterCheck.h"
#include "FilterEngine.h"
#include "FilterEngineLoader.h"
#include "FilterListManager.h"
#include "FilterRule.h"
#include "StoreFile.h"
#include "TempDataDir.h"
#include "TestHttpServer.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

std::shared_ptr<const FilterEngine> engineFor(const QString &rules, const QString &name = u"test"_s)
{
    return FilterEngine::build({{name, rules.toUtf8()}});
}

// "block", "allow" or "allow-doc", and the deciding rule.
// count lines of rule, each with %1 as its number
QString numbered(const QString &rule, int count)
{
    QString lines;
    for (int i = 0; i < count; ++i)
        lines += rule.arg(i) + u'\n';
    return lines;
}

QString verdict(const FilterEngine &engine, const QString &url, const QString &page, const QString &type)
{
    const FilterEngine::Decision d = engine.decide(QUrl(url), QUrl(page), FilterEngine::typeFromName(type));
    const QString word = d.blocked ? u"block"_s : d.documentAllowed ? u"allow-doc"_s : u"allow"_s;
    return d.rule >= 0 ? word + u' ' + engine.ruleText(d.rule) : word;
}

QByteArray listText(const QByteArray &rules, const QByteArray &header = "[Adblock Plus 2.0]\n! Title: Test list\n")
{
    return header + rules;
}

// A list of n distinct rules.
QByteArray manyRules(int n)
{
    QByteArray text;
    for (int i = 0; i < n; ++i)
        text += "||ads" + QByteArray::number(i) + ".example^\n";
    return text;
}

void writeState(const TempDataDir &dir, const QList<QUrl> &urls, const QJsonObject &extra = {})
{
    QJsonArray lists;
    for (const QUrl &url : urls) {
        QJsonObject o = extra;
        o.insert(u"url"_s, url.toString());
        lists.append(o);
    }
    QDir().mkpath(dir.dataFolder());
    dir.writeFile(u"filterlists.json"_s, QJsonDocument(QJsonObject{{u"lists"_s, lists}}).toJson());
}

} // namespace

class TestFilterEngine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(u"OrvexVPN"_s);
        QCoreApplication::setApplicationName(u"OrvexBrowser"_s);
        qRegisterMetaType<std::shared_ptr<const FilterEngine>>();
    }
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    // ---- network rules --------------------------------------------------------

    void decide_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("expected");
        const QString page = u"https://news.example/article"_s;
        const auto row = [&](const char *name, const char *rules, const char *url, const char *expected,
                             const char *type = "script", const QString &pageUrl = QString()) {
            QTest::newRow(name) << QString::fromUtf8(rules) << QString::fromUtf8(url)
                                << (pageUrl.isNull() ? page : pageUrl) << QString::fromLatin1(type)
                                << QString::fromUtf8(expected);
        };
        // Pattern syntax
        row("plain substring", "-ad-banner.", "https://cdn.example/img-ad-banner.png", "block -ad-banner.", "image");
        row("plain, no match", "-ad-banner.", "https://cdn.example/img-ad-banner/x.png", "allow", "image");
        row("plain is case-insensitive", "/BannerAd.", "https://cdn.example/bannerad.gif", "block /BannerAd.", "image");
        row("slashes at both ends make a regex", "/banner/", "https://cdn.example/x-banner/y.gif", "block /banner/", "image");
        row("path with options", "/prebid.$script,domain=~prebid.org", "https://news.example/js/prebid.js",
            "block /prebid.$script,domain=~prebid.org");
        row("regex ending in $", "/\\.php$/$script", "https://cdn.example/x.php", "block /\\.php$/$script");
        row("regex ending in $, no match", "/\\.php$/$script", "https://cdn.example/x.php?a=1", "allow");
        row("star", "/ads/*/banner", "https://cdn.example/ads/2024/05/banner.gif", "block /ads/*/banner", "image");
        row("star needs the parts in order", "/ads/*/banner", "https://cdn.example/banner/ads/x", "allow", "image");
        row("separator at a slash", "||tracker.example^", "https://tracker.example/p.gif", "block ||tracker.example^", "image");
        row("separator at a port", "||tracker.example^", "https://tracker.example:8443/p", "block ||tracker.example^", "image");
        row("separator at the end", "||tracker.example^", "https://tracker.example", "block ||tracker.example^", "image");
        row("host with a final dot", "||tracker.example^", "https://tracker.example./p.gif", "block ||tracker.example^", "image");
        row("host with a final dot, match-case", "||tracker.example/P.$match-case", "https://tracker.example./P.gif",
            "block ||tracker.example/P.$match-case", "image");
        row("separator is not a dot", "||tracker.example^", "https://tracker.example.org/p", "allow", "image");
        row("separator is not a letter", "/ad^", "https://cdn.example/adx", "allow", "image");
        row("separator before a query", "/ad^", "https://cdn.example/ad?x=1", "block /ad^", "image");
        row("start anchor", "|https://ads.", "https://ads.example/x.js", "block |https://ads.");
        row("start anchor only at the start", "|https://ads.", "https://cdn.example/?u=https://ads.x", "allow");
        row("end anchor", ".swf|", "https://cdn.example/a.swf", "block .swf|", "object");
        row("end anchor only at the end", ".swf|", "https://cdn.example/a.swf?x=1", "allow", "object");
        row("domain anchor: subdomain", "||criteo.com^", "https://static.criteo.com/js/ld.js", "block ||criteo.com^");
        row("domain anchor: the domain", "||criteo.com^", "https://criteo.com/js/ld.js", "block ||criteo.com^");
        row("domain anchor: label boundary", "||criteo.com^", "https://notcriteo.com/js/ld.js", "allow");
        row("domain anchor: not in the path", "||criteo.com^", "https://cdn.example/criteo.com/x.js", "allow");
        row("domain anchor with a path", "||cdn.example/ads/", "https://img.cdn.example/ads/x.png", "block ||cdn.example/ads/", "image");
        row("regex", "/\\/[0-9a-f]{32}\\/invoke\\.js/", "https://x.example/0123456789abcdef0123456789abcdef/invoke.js",
            "block /\\/[0-9a-f]{32}\\/invoke\\.js/");
        row("regex, no match", "/\\/[0-9a-f]{32}\\/invoke\\.js/", "https://x.example/0123/invoke.js", "allow");
        row("regex without a token", "/^https?:\\/\\/[a-z]{8}\\.xyz\\//", "https://abcdefgh.xyz/x.js",
            "block /^https?:\\/\\/[a-z]{8}\\.xyz\\//");
        row("non-web URL", "data", "data:text/plain,data", "allow", "other");
        // Exceptions and priority
        row("exception", "||ads.example^\n@@||ads.example/ok/", "https://ads.example/ok/x.js", "allow @@||ads.example/ok/");
        row("exception elsewhere", "||ads.example^\n@@||ads.example/ok/", "https://ads.example/no/x.js", "block ||ads.example^");
        row("exception alone blocks nothing", "@@||ads.example^", "https://ads.example/x.js", "allow");
        row("important beats exception", "||ads.example^$important\n@@||ads.example^", "https://ads.example/x.js",
            "block ||ads.example^$important");
        row("document exception allow-lists the page", "||ads.example^\n@@||news.example^$document",
            "https://ads.example/x.js", "allow-doc @@||news.example^$document");
        row("document exception beats important", "||ads.example^$important\n@@||news.example^$document",
            "https://ads.example/x.js", "allow-doc @@||news.example^$document");
        row("document exception of another page", "||ads.example^\n@@||other.example^$document",
            "https://ads.example/x.js", "block ||ads.example^");
        // Party, decided on registrable domains
        row("third-party: other site", "||cdn.example^$third-party", "https://cdn.example/x.js", "block ||cdn.example^$third-party");
        row("third-party: same site", "||news.example^$third-party", "https://static.news.example/x.js", "allow");
        row("third-party: PSL, same site under co.uk", "||bbc.co.uk^$third-party", "https://static.bbc.co.uk/x.js", "allow",
            "script", u"https://www.bbc.co.uk/news"_s);
        row("third-party: PSL, sites under github.io", "||github.io^$third-party", "https://a.github.io/x.js",
            "block ||github.io^$third-party", "script", u"https://b.github.io/"_s);
        row("first-party only", "||news.example/track$~third-party", "https://news.example/track?id=1", "block ||news.example/track$~third-party", "image");
        row("first-party only, foreign page", "||news.example/track$~third-party", "https://news.example/track?id=1", "allow",
            "image", u"https://other.example/"_s);
        row("3p alias", "||cdn.example^$3p", "https://cdn.example/x.js", "block ||cdn.example^$3p");
        row("1p alias", "||cdn.example^$1p", "https://cdn.example/x.js", "allow");
        row("IP page, IP request", "||10.0.0.2^$third-party", "http://10.0.0.2/x.js", "block ||10.0.0.2^$third-party",
            "script", u"http://10.0.0.1/"_s);
        // domain=
        row("domain: listed", "||cdn.example/ad.js$domain=news.example|~m.news.example", "https://cdn.example/ad.js",
            "block ||cdn.example/ad.js$domain=news.example|~m.news.example");
        row("domain: subdomain", "||cdn.example/ad.js$domain=news.example|~m.news.example", "https://cdn.example/ad.js",
            "block ||cdn.example/ad.js$domain=news.example|~m.news.example", "script", u"https://www.news.example/"_s);
        row("domain: excluded subdomain", "||cdn.example/ad.js$domain=news.example|~m.news.example", "https://cdn.example/ad.js",
            "allow", "script", u"https://m.news.example/"_s);
        row("domain: other site", "||cdn.example/ad.js$domain=news.example", "https://cdn.example/ad.js", "allow", "script",
            u"https://other.example/"_s);
        row("domain: exclusion only", "||cdn.example/ad.js$domain=~news.example", "https://cdn.example/ad.js", "allow");
        row("domain: no page", "||cdn.example/ad.js$domain=news.example", "https://cdn.example/ad.js", "allow", "script", u""_s);
        row("domain: entity", "||cdn.example/ad.js$domain=google.*", "https://cdn.example/ad.js",
            "block ||cdn.example/ad.js$domain=google.*", "script", u"https://www.google.co.uk/"_s);
        row("domain: entity needs the name", "||cdn.example/ad.js$domain=google.*", "https://cdn.example/ad.js", "allow",
            "script", u"https://notgoogle.de/"_s);
        row("domain only, no pattern", "$script,domain=news.example", "https://cdn.example/lib.js",
            "block $script,domain=news.example");
        // Types
        row("type listed", "||cdn.example^$image", "https://cdn.example/a.png", "block ||cdn.example^$image", "image");
        row("type not listed", "||cdn.example^$image", "https://cdn.example/a.js", "allow", "script");
        row("negated type", "||cdn.example^$~image", "https://cdn.example/a.js", "block ||cdn.example^$~image", "script");
        row("negated type, that type", "||cdn.example^$~image", "https://cdn.example/a.png", "allow", "image");
        row("xhr alias", "||api.example^$xhr", "https://api.example/v1", "block ||api.example^$xhr", "xmlhttprequest");
        row("css alias", "||cdn.example^$css", "https://cdn.example/a.css", "block ||cdn.example^$css", "stylesheet");
        row("frame alias", "||ads.example^$frame", "https://ads.example/f.html", "block ||ads.example^$frame", "sub_frame");
        row("websocket", "||ws.example^$websocket", "wss://ws.example/socket", "block ||ws.example^$websocket", "websocket");
        row("untyped rule spares the page itself", "||ads.example^", "https://ads.example/", "allow", "main_frame");
        row("document rule blocks the page", "||ads.example^$document", "https://ads.example/", "block ||ads.example^$document",
            "main_frame");
        row("popup-only rule", "||ads.example^$popup", "https://ads.example/x.js", "allow");
        // match-case
        row("match-case, same case", "/BannerAd.$match-case", "https://cdn.example/BannerAd.png", "block /BannerAd.$match-case", "image");
        row("match-case, other case", "/BannerAd.$match-case", "https://cdn.example/bannerad.png", "allow", "image");
        // Unknown options skip the rule; options in any case and order
        row("unknown option", "||ads.example^$redirect=noop.js", "https://ads.example/x.js", "allow");
        row("unknown flag", "||ads.example^$frobnicate", "https://ads.example/x.js", "allow");
        row("options in any case and order", "||ads.example^$SCRIPT,Third-Party,Domain=NEWS.example", "https://ads.example/x.js",
            "block ||ads.example^$SCRIPT,Third-Party,Domain=NEWS.example");
        row("rule for every address refused", "*$third-party", "https://cdn.example/x.js", "allow");
        row("every address of one type", "$ping,third-party", "https://cdn.example/p", "block $ping,third-party", "ping");
        row("without its badfilter", "||ads.example/x^", "https://ads.example/x/a.png", "block ||ads.example/x^", "image");
        row("badfilter cancels its rule", "||ads.example/x^\n||ads.example/x^$badfilter", "https://ads.example/x/a.png",
            "allow", "image");
        row("badfilter with other options", "||ads.example^$image\n||ads.example^$image,badfilter\n||ads.example^$script",
            "https://ads.example/a.png", "allow", "image");
        row("badfilter leaves other rules", "||ads.example^$image\n||ads.example^$image,badfilter\n||ads.example^$script",
            "https://ads.example/a.js", "block ||ads.example^$script");
        row("pipe stays literal in the URL", "/adiframe|*|adtech;", "https://cdn.example/adiframe|x|adtech;", "block /adiframe|*|adtech;",
            "sub_frame");
        row("non-ASCII path", "/werbung-ä.", "https://cdn.example/werbung-%C3%A4.png", "block /werbung-ä.", "image");
    }
    void decide()
    {
        QFETCH(QString, rules);
        QFETCH(QString, url);
        QFETCH(QString, page);
        QFETCH(QString, type);
        const auto engine = engineFor(rules);
        QTEST(verdict(*engine, url, page, type), "expected");
    }

    // The exception question the built-in lists will ask.
    void findException()
    {
        const auto engine = engineFor(u"@@||ads.example/ok/$script\n||other.example^"_s);
        const FilterEngine::Page page = engine->page(QByteArrayView("https://news.example/"));
        QCOMPARE(engine->ruleText(engine->findException("https://ads.example/ok/a.js", page, FilterRule::Script)),
                 u"@@||ads.example/ok/$script"_s);
        QCOMPARE(engine->findException("https://ads.example/ok/a.png", page, FilterRule::Image), -1);
        QCOMPARE(engine->findException("https://other.example/a.js", page, FilterRule::Script), -1);
    }

    void resourceTypes_data()
    {
        QTest::addColumn<int>("resourceType");
        QTest::addColumn<QString>("name");
        // QWebEngineUrlRequestInfo::ResourceType values
        QTest::newRow("main frame") << 0 << "main_frame";
        QTest::newRow("sub frame") << 1 << "sub_frame";
        QTest::newRow("stylesheet") << 2 << "stylesheet";
        QTest::newRow("script") << 3 << "script";
        QTest::newRow("image") << 4 << "image";
        QTest::newRow("font") << 5 << "font";
        QTest::newRow("sub resource") << 6 << "other";
        QTest::newRow("object") << 7 << "object";
        QTest::newRow("media") << 8 << "media";
        QTest::newRow("worker") << 9 << "script";
        QTest::newRow("favicon") << 12 << "image";
        QTest::newRow("xhr") << 13 << "xmlhttprequest";
        QTest::newRow("ping") << 14 << "ping";
        QTest::newRow("service worker") << 15 << "script";
        QTest::newRow("csp report") << 16 << "other";
        QTest::newRow("plugin resource") << 17 << "object";
        QTest::newRow("preload main frame") << 19 << "main_frame";
        QTest::newRow("preload sub frame") << 20 << "sub_frame";
        QTest::newRow("websocket") << 254 << "websocket";
        QTest::newRow("unknown") << 255 << "other";
    }
    void resourceTypes()
    {
        QFETCH(int, resourceType);
        QFETCH(QString, name);
        QCOMPARE(FilterEngine::typeFromResourceType(resourceType), FilterEngine::typeFromName(name));
        QVERIFY(FilterEngine::typeFromName(name) != 0);
    }

    // ---- parsing ---------------------------------------------------------------

    void parse_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("kind");
        const auto row = [](const char *name, const QString &line, FilterRule::Kind kind) {
            QTest::newRow(name) << line << int(kind);
        };
        using K = FilterRule::Kind;
        row("comment", u"! Title: EasyList"_s, K::Comment);
        row("header", u"[Adblock Plus 2.0]"_s, K::Comment);
        row("blank", u"   "_s, K::Empty);
        row("network", u"||ads.example^$third-party"_s, K::Network);
        row("hash in a URL rule", u"||example.com/#ad"_s, K::Network);
        row("generic hiding", u"##.ad-banner"_s, K::ElementHide);
        row("domain hiding", u"example.com,~m.example.com##.ad"_s, K::ElementHide);
        row("hiding exception", u"example.com#@#.ad"_s, K::ElementHide);
        row("extended #?#", u"example.com#?#div:-abp-has(.ad)"_s, K::Skipped);
        row("snippet #$#", u"example.com#$#abort-on-property-read x"_s, K::Skipped);
        row("scriptlet ##+js", u"example.com##+js(nobab)"_s, K::Skipped);
        row("procedural selector", u"example.com##div:has-text(Sponsored)"_s, K::Skipped);
        row("style injection", u"example.com##.ad { color: red }"_s, K::Invalid);
        row("selector breaking out", u"##a{}body{background:red"_s, K::Invalid);
        row("brace inside quotes", u"##a[href^=\"x{32}\"]"_s, K::Invalid);
        row("unbalanced selector", u"##a[href=\"x]"_s, K::Invalid);
        row("catastrophic regex", u"/(a+)+$/"_s, K::Skipped);
        row("alternation under a star", u"/(a|aa)*b/"_s, K::Skipped);
        row("back-reference", u"/(a)\\1/"_s, K::Skipped);
        row("PCRE verb", u"/(*LIMIT_MATCH=999999999)a/"_s, K::Skipped);
        row("regex too long", u'/' + QString(600, u'a') + u'/', K::Skipped);
        row("line too long", QString(FilterRule::MaxLineLength + 1, u'a'), K::Skipped);
        row("binary garbage", QString::fromUtf8("\x01\x02\xff\xfe||x"), K::Invalid);
        row("empty option", u"||ads.example^$script,"_s, K::Invalid);
        row("elemhide on a blocking rule", u"||ads.example^$elemhide"_s, K::Invalid);
        row("bad domain", u"||ads.example^$domain=a/b.com"_s, K::Invalid);
        row("IPv6 domain", u"||[::]^$third-party,domain=~[::1]|~127.0.0.1"_s, K::Network);
    }
    void parse()
    {
        QFETCH(QString, line);
        QTEST(int(FilterRule::parse(line).kind), "kind");
    }

    // A rule too costly for the heuristics still can't hang a decision: the
    // regular expression runs under a step limit.
    void regexStepLimit()
    {
        // No literal the regex engine could look for first: it has to backtrack.
        const auto engine = engineFor(u"/(?:a.*){12}\\d/"_s);
        QCOMPARE(engine->networkRuleCount(), 1);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(verdict(*engine, u"https://x.example/"_s + QString(3000, u'a'), u"https://x.example/"_s, u"image"_s),
                 u"allow"_s);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }

    // Hostile lists: a 50 MB line, binary garbage, an HTML page. The good
    // rules around them still count; nothing crashes or hangs.
    void hostileLists()
    {
        QByteArray text = "[Adblock Plus 2.0]\n||good.example^\n";
        text += QByteArray(50 * 1024 * 1024, 'a');
        text += "\n||also-good.example^\n";
        QByteArray garbage(4096, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 7919 + 13) & 0xff);
        text += garbage + "\n<html><body><a href=\"/\">Login</a></body></html>\n";
        QElapsedTimer timer;
        timer.start();
        const auto engine = FilterEngine::build({{u"hostile"_s, text}});
        QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(verdict(*engine, u"https://also-good.example/x.js"_s, u"https://a.example/"_s, u"script"_s),
                 u"block ||also-good.example^"_s);
        QVERIFY(engine->stats().first().skipped >= 1);
        QVERIFY(!FilterListManager::looksLikeFilterList("<html><body>Login</body></html>"));
        QVERIFY(FilterListManager::looksLikeFilterList("\xEF\xBB\xBF[Adblock Plus 2.0]\n"));
    }

    // ---- element hiding ----------------------------------------------------------

    void styleSheet_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("hidden");
        QTest::addColumn<QStringList>("shown");
        // Whether the page can take the generic sheet every page shares as
        // it is (no exception of the page takes selectors out of it).
        QTest::addColumn<bool>("sharesGeneric");
        const auto row = [](const char *name, const char *rules, const char *page, const QStringList &hidden,
                            const QStringList &shown, bool sharesGeneric = true) {
            QTest::newRow(name) << QString::fromUtf8(rules) << QString::fromUtf8(page) << hidden << shown << sharesGeneric;
        };
        const char *base = "##.ad-generic\nnews.example##.ad-news\n~news.example##.ad-elsewhere\ngoogle.*##.ad-google\n";
        row("generic and domain", base, "https://www.news.example/a", {u".ad-generic"_s, u".ad-news"_s},
            {u".ad-elsewhere"_s, u".ad-google"_s});
        row("other domain", base, "https://other.example/", {u".ad-generic"_s, u".ad-elsewhere"_s}, {u".ad-news"_s});
        row("entity", base, "https://www.google.de/", {u".ad-google"_s}, {u".ad-news"_s});
        row("generic exception",
            "##.ad-generic\n##.ad-two\n#@#.ad-two\nnews.example##.ad-two", "https://news.example/", {u".ad-generic"_s},
            {u".ad-two"_s});
        row("domain exception", "##.ad-generic\n##.ad-two\nnews.example#@#.ad-two", "https://news.example/",
            {u".ad-generic"_s}, {u".ad-two"_s});
        row("domain exception, complex selector", "##.ad-generic\n##div.ad-two\nnews.example#@#div.ad-two",
            "https://news.example/", {u".ad-generic"_s}, {u"div.ad-two"_s});
        row("domain exception elsewhere", "##.ad-generic\n##.ad-two\nnews.example#@#.ad-two", "https://other.example/",
            {u".ad-generic"_s, u".ad-two"_s}, {});
        row("elemhide", "##.ad-generic\nnews.example##.ad-news\n@@||news.example^$elemhide", "https://news.example/", {},
            {u".ad-generic"_s, u".ad-news"_s}, false);
        row("generichide", "##.ad-generic\nnews.example##.ad-news\n@@||news.example^$generichide", "https://news.example/",
            {u".ad-news"_s}, {u".ad-generic"_s}, false);
        row("document", "##.ad-generic\n@@||news.example^$document", "https://news.example/", {}, {u".ad-generic"_s}, false);
        row("injection refused", "##.ad-generic\n##a{}body{display:none", "https://news.example/", {u".ad-generic"_s},
            {u"body"_s});
    }
    void styleSheet()
    {
        QFETCH(QString, rules);
        QFETCH(QString, page);
        QFETCH(QStringList, hidden);
        QFETCH(QStringList, shown);
        const auto engine = engineFor(rules);
        const QString sheet = engine->styleSheet(engine->page(QUrl(page)));
        for (const QString &s : hidden)
            QVERIFY2(sheet.contains(s), qPrintable(s + u" missing from\n"_s + sheet));
        for (const QString &s : shown)
            QVERIFY2(!sheet.contains(s), qPrintable(s + u" should not be in\n"_s + sheet));
        // Braces only from our own rule bodies.
        QCOMPARE(sheet.count(u'{'), sheet.count(u" { display: none !important; }"_s));
        // As a page gets it: the generic selectors (a table of the single
        // ids and classes, a sheet of the others) minus what the page's
        // exceptions keep, and the page's own rules.
        const FilterEngine::Hiding hiding = engine->hiding(engine->page(QUrl(page)));
        QTEST(hiding.generic, "sharesGeneric");
        const auto hides = [&](const QString &selector) {
            if (hiding.extra.contains(selector))
                return true;
            if (!hiding.generic || hiding.excluded.contains(selector))
                return false;
            if (!FilterEngine::isSimpleSelector(selector.toUtf8()))
                return engine->genericComplexSheet(hiding.excluded).contains(selector);
            quint32 a = 0, b = 0;
            FilterEngine::selectorHash(selector, &a, &b);
            const QByteArray table = engine->genericSelectorTable();
            for (qsizetype i = 0; i + 8 <= table.size(); i += 8) {
                if (qFromLittleEndian<quint32>(table.constData() + i) == a
                    && qFromLittleEndian<quint32>(table.constData() + i + 4) == b)
                    return true;
            }
            return false;
        };
        for (const QString &s : hidden)
            QVERIFY2(hides(s), qPrintable(s));
        for (const QString &s : shown)
            QVERIFY2(!hides(s), qPrintable(s));
    }

    void simpleSelectors_data()
    {
        QTest::addColumn<QByteArray>("selector");
        QTest::addColumn<bool>("simple");
        QTest::newRow("class") << QByteArray(".ad-slot") << true;
        QTest::newRow("id") << QByteArray("#AdBanner_2") << true;
        QTest::newRow("leading hyphen") << QByteArray(".-ad") << true;
        QTest::newRow("digit first") << QByteArray(".300x250") << false;
        QTest::newRow("two classes") << QByteArray(".ad.box") << false;
        QTest::newRow("tag and class") << QByteArray("ins.adsbygoogle") << false;
        QTest::newRow("attribute") << QByteArray("[id^=\"div-gpt-ad\"]") << false;
        QTest::newRow("escaped") << QByteArray(".a\\:b") << false;
        QTest::newRow("pseudo-class") << QByteArray(".ad:not(body)") << false;
        QTest::newRow("bare prefix") << QByteArray("#") << false;
    }
    void simpleSelectors()
    {
        QFETCH(QByteArray, selector);
        QTEST(FilterEngine::isSimpleSelector(selector), "simple");
    }

    // ---- compiled cache ------------------------------------------------------------

    void cacheRoundTrip()
    {
        const auto engine = engineFor(u"||ads.example^$third-party\n@@||ads.example/ok/\n/ban[0-9]+er/\n##.ad\nnews.example##.x"_s);
        const auto loaded = FilterEngine::fromBytes(engine->toBytes("key"), "key");
        QVERIFY(loaded);
        for (const char *url : {"https://ads.example/x.js", "https://ads.example/ok/x.js", "https://cdn.example/ban12er.png"}) {
            QCOMPARE(verdict(*loaded, QString::fromLatin1(url), u"https://news.example/"_s, u"script"_s),
                     verdict(*engine, QString::fromLatin1(url), u"https://news.example/"_s, u"script"_s));
        }
        const FilterEngine::Page page = engine->page(QByteArrayView("https://news.example/"));
        QCOMPARE(loaded->styleSheet(page), engine->styleSheet(page));
    }

    // The cache's checksum and the lists' key see any small damage: a bit
    // flipped in a 16-byte block, in the tail, a byte more or less.
    void checksumSeesChanges()
    {
        QByteArray data(1003, Qt::Uninitialized);
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char(i * 7 + 3);
        const quint64 original = FilterEngine::checksum(data);
        QCOMPARE(FilterEngine::checksum(data), original);
        QVERIFY(FilterEngine::checksum(data, 1) != original);
        for (const qsizetype at : {0, 7, 8, 15, 500, 991, 992, 1002}) {
            for (int bit = 0; bit < 8; ++bit) {
                QByteArray changed = data;
                changed[at] = char(changed[at] ^ (1 << bit));
                QVERIFY2(FilterEngine::checksum(changed) != original, qPrintable(u"byte %1 bit %2"_s.arg(at).arg(bit)));
            }
        }
        QVERIFY(FilterEngine::checksum(data + '\0') != original);
        QVERIFY(FilterEngine::checksum(data.chopped(1)) != original);

        const QList<FilterEngine::Source> lists{{u"a"_s, "||one.example^\n"}, {u"b"_s, "##.ad\n"}};
        const QByteArray key = FilterEngineLoader::sourceKey(lists);
        QCOMPARE(FilterEngineLoader::sourceKey(lists), key);
        QVERIFY(FilterEngineLoader::sourceKey({{u"a"_s, "||one.example^\n"}, {u"b"_s, "##.ad\r"}}) != key);
        QVERIFY(FilterEngineLoader::sourceKey({{u"b"_s, "||one.example^\n"}, {u"a"_s, "##.ad\n"}}) != key);
        QVERIFY(FilterEngineLoader::sourceKey({{u"a"_s, "||one.example^\n##.ad\n"}, {u"b"_s, ""}}) != key);
        QVERIFY(FilterEngineLoader::sourceKey({lists.first()}) != key);
    }

    // Damaged, stale or hostile cache files are refused (the caller parses
    // the lists again); none may crash.
    void cacheRefused_data()
    {
        QTest::addColumn<QString>("damage");
        for (const char *d : {"empty", "truncated", "flipped byte", "other key", "other version", "bad offset with good checksum",
                              "hostile selector with good checksum"})
            QTest::newRow(d) << QString::fromLatin1(d);
    }
    void cacheRefused()
    {
        QFETCH(QString, damage);
        const auto engine = engineFor(u"||ads.example^\n##.ad"_s);
        QByteArray bytes = engine->toBytes("key");
        QByteArray key = "key";
        if (damage == u"empty"_s) {
            bytes.clear();
        } else if (damage == u"truncated"_s) {
            bytes.chop(bytes.size() / 3);
        } else if (damage == u"flipped byte"_s) {
            bytes[bytes.size() - 40] = char(bytes[bytes.size() - 40] ^ 0x20);
        } else if (damage == u"other key"_s) {
            key = "another";
        } else if (damage == u"other version"_s) {
            bytes[11] = char(bytes[11] + 1); // the version follows the 8-byte magic
        } else {
            // Rewrite the payload and its checksum, as a hostile file would:
            // after the 8-byte magic, version, key size, key, checksum and
            // payload size, the payload starts at the next multiple of 16.
            const quint32 keySize = qFromLittleEndian<quint32>(bytes.constData() + 12);
            const qsizetype digestAt = 16 + keySize;
            const qsizetype payloadAt = (digestAt + 16 + 15) / 16 * 16;
            QByteArray payload = bytes.mid(payloadAt);
            // Sections: size (64 bits) and bytes padded to 8; the rules
            // follow the texts, patterns and selectors.
            qsizetype rulesAt = 0;
            for (int section = 0; section < 3; ++section) {
                const qsizetype length = qsizetype(qFromLittleEndian<quint64>(payload.constData() + rulesAt));
                rulesAt += 8 + (length + 7) / 8 * 8;
            }
            rulesAt += 8;
            if (damage.startsWith(u"bad offset"_s)) {
                payload[rulesAt + 0] = char(0xff); // textOffset of rule 0
                payload[rulesAt + 3] = char(0x7f);
            } else {
                const qsizetype at = payload.indexOf(".ad");
                QVERIFY(at > 0);
                payload[at] = '{';
            }
            bytes = bytes.left(payloadAt) + payload;
            qToLittleEndian(FilterEngine::checksum(payload), bytes.data() + digestAt);
        }
        QVERIFY(!FilterEngine::fromBytes(bytes, key));
    }

    // A cache file is read in place: its tables stay in the file's pages,
    // not in the heap, and an engine keeps deciding after a newer cache
    // replaced its file.
    void cacheReadInPlace()
    {
        TempDataDir dir;
        const QString path = dir.path() + u"/filterengine.bin"_s;
        const auto built = engineFor(numbered(u"||tracker-%1.example^$script,domain=news-%1.example|~shop-%1.example"_s, 3000)
                                     + u"##.ad\n"_s);
        QVERIFY(StoreFile::write(path, built->toBytes("key")));
        const auto loaded = FilterEngine::fromFile(path, "key");
        QVERIFY(loaded);
        QCOMPARE(loaded->networkRuleCount(), built->networkRuleCount());
        QVERIFY2(loaded->memoryUsage() < built->memoryUsage() / 2,
                 qPrintable(u"%1 of %2 bytes in the heap"_s.arg(loaded->memoryUsage()).arg(built->memoryUsage())));

        QVERIFY(StoreFile::write(path, engineFor(u"||other.example^"_s)->toBytes("key")));
        for (const int i : {0, 1500, 2999}) {
            const QString url = u"https://tracker-%1.example/t.js"_s.arg(i);
            QCOMPARE(verdict(*loaded, url, u"https://news-%1.example/"_s.arg(i), u"script"_s),
                     verdict(*built, url, u"https://news-%1.example/"_s.arg(i), u"script"_s));
            QVERIFY(loaded->decide(QUrl(url), QUrl(u"https://news-%1.example/"_s.arg(i)), FilterRule::Script).blocked);
        }
        QCOMPARE(loaded->ruleText(0), built->ruleText(0));
        QVERIFY(FilterEngine::fromFile(path, "key"));
        QVERIFY(!FilterEngine::fromFile(path, "other key"));
    }

    // Loading reads the whole file to check it; afterwards only the pages
    // that decisions read are in the process, a few per decision.
    void cacheResidentPages()
    {
        TempDataDir dir;
        const QString path = dir.path() + u"/filterengine.bin"_s;
        const QString rules = numbered(u"||t%1.tracker-network.example/pixel-%1/$image,domain=site-%1.example"_s, 40000);
        QVERIFY(StoreFile::write(path, engineFor(rules)->toBytes("key")));
        QVERIFY(QFileInfo(path).size() > 4 * 1024 * 1024);
        const auto loaded = FilterEngine::fromFile(path, "key");
        QVERIFY(loaded);
        for (const int i : {7, 20000, 39999}) {
            QVERIFY(loaded->decide(QUrl(u"https://t%1.tracker-network.example/pixel-%1/a.gif"_s.arg(i)),
                                   QUrl(u"https://site-%1.example/"_s.arg(i)), FilterRule::Image)
                        .blocked);
        }
        QFile smaps(u"/proc/self/smaps"_s);
        QVERIFY(smaps.open(QIODevice::ReadOnly));
        qint64 residentKiB = -1;
        bool inFile = false;
        static const QRegularExpression mapping(u"^[0-9a-f]+-[0-9a-f]+ "_s);
        for (const QByteArray &line : smaps.readAll().split('\n')) {
            if (mapping.match(QString::fromLatin1(line)).hasMatch())
                inFile = line.endsWith(QFile::encodeName(path));
            else if (inFile && line.startsWith("Rss:"))
                residentKiB = qMax<qint64>(residentKiB, 0) + line.mid(4).trimmed().split(' ').value(0).toLongLong();
        }
        QVERIFY(residentKiB >= 0);
        QVERIFY2(residentKiB < 1024, qPrintable(u"%1 KiB of the file resident"_s.arg(residentKiB)));
    }

    void cacheFileRefused_data()
    {
        QTest::addColumn<QString>("damage");
        for (const char *d : {"missing", "empty", "truncated", "folder", "garbage"})
            QTest::newRow(d) << QString::fromLatin1(d);
    }
    void cacheFileRefused()
    {
        QFETCH(QString, damage);
        TempDataDir dir;
        const QString path = dir.path() + u"/filterengine.bin"_s;
        QByteArray bytes = engineFor(u"||ads.example^\n##.ad"_s)->toBytes("key");
        if (damage == u"folder"_s) {
            QVERIFY(QDir().mkpath(path));
        } else if (damage != u"missing"_s) {
            if (damage == u"empty"_s)
                bytes.clear();
            else if (damage == u"truncated"_s)
                bytes.chop(9);
            else
                bytes = QByteArray(4096, '\xa5');
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        QVERIFY(!FilterEngine::fromFile(path, "key"));
    }

    // The worker parses on a first start, reads the cache on the next, and
    // rebuilds it when a list changed or the file is damaged.
    void loaderUsesCache()
    {
        TempDataDir dir;
        const QString cache = dir.path() + u"/cache"_s;
        FilterEngineLoader loader(cache);
        QSignalSpy ready(&loader, &FilterEngineLoader::engineReady);
        const QList<FilterEngineLoader::Input> v1{{u"a"_s, QString(), "||one.example^\n"}};
        const QList<FilterEngineLoader::Input> v2{{u"a"_s, QString(), "||two.example^\n"}};
        const auto expectReady = [&](bool fromCache, const char *blocked) {
            QVERIFY(ready.wait(10000));
            const auto args = ready.takeFirst();
            QCOMPARE(args.at(1).toBool(), fromCache);
            const auto engine = args.at(0).value<std::shared_ptr<const FilterEngine>>();
            QCOMPARE(engine, loader.engine());
            QVERIFY(engine->decide(QUrl(QString::fromLatin1(blocked)), QUrl(u"https://p.example/"_s), FilterRule::Script).blocked);
        };
        loader.load(v1);
        expectReady(false, "https://one.example/x.js");
        QVERIFY(QFile::exists(loader.cacheFile()));
        loader.load(v1);
        expectReady(true, "https://one.example/x.js");
        loader.load(v2);
        expectReady(false, "https://two.example/x.js");
        QFile f(loader.cacheFile());
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.resize(f.size() / 2);
        f.close();
        loader.load(v2);
        expectReady(false, "https://two.example/x.js");
    }

    // ---- the checker -----------------------------------------------------------------

    void checkLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("blocked") << QByteArray("https://ads.example/x.js\thttps://news.example/\tscript")
                                 << QByteArray("block\t||ads.example^$script");
        QTest::newRow("allowed") << QByteArray("https://cdn.example/x.js\thttps://news.example/\tscript") << QByteArray("allow");
        QTest::newRow("exception") << QByteArray("https://ads.example/ok/x.js\thttps://news.example/\tscript\r\n")
                                   << QByteArray("allow\t@@||ads.example/ok/");
        QTest::newRow("builtin blocks") << QByteArray("https://builtin.example/x.js\thttps://news.example/\tscript")
                                        << QByteArray("block\tbuilt-in: builtin.example");
        QTest::newRow("exception beats builtin") << QByteArray("https://builtin.example/ok/x.js\thttps://news.example/\tscript")
                                                 << QByteArray("allow\t@@||builtin.example/ok/");
        QTest::newRow("main frame is its own page")
            << QByteArray("https://ads.example/\t\tmain_frame") << QByteArray("block\t||ads.example^$document,domain=ads.example");
        QTest::newRow("two fields") << QByteArray("https://ads.example/x.js\tscript") << QByteArray("error\texpected URL<TAB>PAGE_URL<TAB>TYPE");
        QTest::newRow("four fields") << QByteArray("a\tb\tc\td") << QByteArray("error\texpected URL<TAB>PAGE_URL<TAB>TYPE");
        QTest::newRow("unknown type") << QByteArray("https://ads.example/x.js\t\tbogus") << QByteArray("error\tunknown type bogus");
        QTest::newRow("bad URL") << QByteArray("not a url\t\tscript") << QByteArray("error\tinvalid URL not a url");
        QTest::newRow("empty line") << QByteArray("") << QByteArray("error\texpected URL<TAB>PAGE_URL<TAB>TYPE");
        QTest::newRow("binary") << QByteArray("\x01\xff\t\x02\t\x03", 6) << QByteArray("error\tunknown type \x03");
    }
    void checkLine()
    {
        QFETCH(QByteArray, line);
        FilterCheck check(engineFor(u"||ads.example^$script\n||ads.example^$document,domain=ads.example\n@@||ads.example/ok/\n"
                                    "@@||builtin.example/ok/"_s),
                          [](const QUrl &url) {
                              return url.host() == u"builtin.example"_s ? u"built-in: builtin.example"_s : QString();
                          });
        QTEST(check.check(line), "expected");
    }

    // The real program: one answer per line, streaming 30,000 lines.
    void checkerProgram()
    {
        const QString program = QStringLiteral(ORVEX_FILTERCHECK_BIN);
        TempDataDir dir;
        const QString list = dir.path() + u"/list.txt"_s;
        {
            QFile f(list);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(listText(manyRules(2000) + "@@||ads7.example/ok/\n"));
        }
        QByteArray input;
        for (int i = 0; i < 30000; ++i) {
            input += "https://ads" + QByteArray::number(i % 4000) + ".example/" + (i % 3 ? "x.js" : "ok/x.js")
                + "\thttps://news.example/\tscript\n";
        }
        input += "garbage line\n";
        QProcess p;
        QElapsedTimer timer;
        timer.start();
        p.start(program, {u"--list"_s, list, u"--no-builtin"_s});
        QVERIFY(p.waitForStarted());
        p.write(input);
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
        const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
        QCOMPARE(lines.size(), 30002); // one per input line, and the final newline
        QCOMPARE(lines[1], QByteArray("block\t||ads1.example^"));
        QCOMPARE(lines[2001], QByteArray("allow"));
        QCOMPARE(lines[7], QByteArray("block\t||ads7.example^"));
        QCOMPARE(lines[8007], QByteArray("allow\t@@||ads7.example/ok/"));
        QCOMPARE(lines[30000], QByteArray("error\texpected URL<TAB>PAGE_URL<TAB>TYPE"));

        // Built-in lists on (the default): the browser's own hosts block too.
        p.start(program, {u"--list"_s, list});
        QVERIFY(p.waitForStarted());
        p.write("https://securepubads.g.doubleclick.net/tag/js/gpt.js\thttps://news.example/\tscript\n"
                "https://notdoubleclick.net/x.js\thttps://news.example/\tscript\n");
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.readAllStandardOutput(), QByteArray("block\tbuilt-in ad list: doubleclick.net\nallow\n"));

        p.start(program, {u"--list"_s, dir.path() + u"/missing.txt"_s});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 2);
    }

    // ---- subscriptions ---------------------------------------------------------------

    // Nothing is fetched while no tunnel is up; with one, a due list is
    // downloaded, stored and counted, and its rules reach the engine inputs.
    void subscriptionFirstDownload()
    {
        TempDataDir dir;
        TestHttpServer server;
        QVERIFY(server.listen());
        server.setPage("/list.txt", listText("! Expires: 2 days\n||ads.example^\n##.ad\n"), "text/plain");
        writeState(dir, {server.url(u"/list.txt"_s)});
        FilterListManager manager(dir.dataFolder());
        manager.setSnapshotFolder(QString());
        QSignalSpy sources(&manager, &FilterListManager::sourcesChanged);

        manager.checkForUpdates();
        manager.updateNow();
        QTest::qWait(200);
        QCOMPARE(server.requestCount("/list.txt"), 0);
        QCOMPARE(manager.lists().first().lastError, u"Not updated: no VPN tunnel is up"_s);

        manager.setTunnelUp(true);
        QTRY_COMPARE(sources.count(), 1);
        QCOMPARE(server.requestCount("/list.txt"), 1);
        const FilterListManager::List row = manager.lists().first();
        QCOMPARE(row.title, u"Test list"_s);
        QCOMPARE(row.ruleCount, 2);
        QVERIFY(row.lastUpdate.isValid());
        QVERIFY(row.lastError.isEmpty());
        const auto inputs = manager.inputs();
        QCOMPARE(inputs.size(), 1);
        const auto engine = FilterEngineLoader::loadOrBuild(inputs, QString());
        QVERIFY(engine->decide(QUrl(u"https://ads.example/x"_s), QUrl(u"https://p.example/"_s), FilterRule::Image).blocked);

        // Not expired: no second request, also after a restart.
        manager.checkForUpdates();
        FilterListManager again(dir.dataFolder());
        again.setTunnelUp(true);
        QTest::qWait(200);
        QCOMPARE(server.requestCount("/list.txt"), 1);
        QCOMPARE(again.lists().first().ruleCount, 2);
    }

    // An expired list is asked for conditionally; 304 keeps the copy.
    void subscriptionConditional()
    {
        TempDataDir dir;
        TestHttpServer server;
        QVERIFY(server.listen());
        server.route("/list.txt", [](const TestHttpServer::Request &req) {
            if (req.header("If-None-Match") == "\"v1\"")
                return TestHttpServer::Response{304, "text/plain", {}, {}};
            return TestHttpServer::Response{200, "text/plain", listText("! Expires: 1 hours\n||ads.example^\n"),
                                            {{"ETag", "\"v1\""}, {"Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT"}}};
        });
        writeState(dir, {server.url(u"/list.txt"_s)});
        {
            FilterListManager manager(dir.dataFolder());
            QSignalSpy sources(&manager, &FilterListManager::sourcesChanged);
            manager.setTunnelUp(true);
            QTRY_COMPARE(sources.count(), 1);
        }
        // An hour and more later (the state says so).
        QJsonObject state = QJsonDocument::fromJson(dir.readFile(u"filterlists.json"_s)).object();
        QJsonArray lists = state[u"lists"_s].toArray();
        QJsonObject entry = lists[0].toObject();
        QCOMPARE(entry[u"expiryHours"_s].toInt(), 1);
        entry[u"lastUpdate"_s] = QDateTime::currentDateTimeUtc().addSecs(-2 * 3600).toString(Qt::ISODate);
        lists[0] = entry;
        state[u"lists"_s] = lists;
        dir.writeFile(u"filterlists.json"_s, QJsonDocument(state).toJson());

        FilterListManager manager(dir.dataFolder());
        QSignalSpy changed(&manager, &FilterListManager::listsChanged);
        QSignalSpy sources(&manager, &FilterListManager::sourcesChanged);
        manager.setTunnelUp(true);
        QTRY_COMPARE(server.requestCount("/list.txt"), 2);
        QTRY_VERIFY(manager.pendingUpdates() == 0);
        const TestHttpServer::Request req = server.requests().last();
        QCOMPARE(req.header("If-None-Match"), QByteArray("\"v1\""));
        QCOMPARE(req.header("If-Modified-Since"), QByteArray("Tue, 01 Dec 2026 10:00:00 GMT"));
        QVERIFY(manager.lists().first().lastUpdate > QDateTime::currentDateTimeUtc().addSecs(-60));
        QCOMPARE(sources.count(), 0);
        QCOMPARE(manager.lists().first().ruleCount, 1);
    }

    // Downloads that must not replace a good copy; the failure shows in the row.
    void subscriptionRefused_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("stallAt");
        QTest::addColumn<QString>("error");
        QTest::newRow("html page") << QByteArray("<html><body>Please log in</body></html>") << 200 << -1
                                   << "The download is not an Adblock Plus filter list";
        QTest::newRow("binary garbage") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11) << 200 << -1
                                        << "The download is not an Adblock Plus filter list";
        QTest::newRow("over the cap") << listText(manyRules(200)) << 200 << -1 << "The list is larger than 0 MiB";
        QTest::newRow("too few rules") << listText("||only.example^\n") << 200 << -1 << "The download holds too few rules (1)";
        QTest::newRow("server error") << QByteArray("oops") << 500 << -1 << "*";
        QTest::newRow("truncated") << listText(manyRules(100)) << 200 << 500 << "*";
        QTest::newRow("stalled") << listText(manyRules(100)) << 200 << 300 << "The download timed out";
    }
    void subscriptionRefused()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(int, stallAt);
        QFETCH(QString, error);
        TempDataDir dir;
        TestHttpServer server;
        QVERIFY(server.listen());
        const QByteArray good = listText(manyRules(40));
        server.setPage("/list.txt", good, "text/plain");
        writeState(dir, {server.url(u"/list.txt"_s)});
        FilterListManager manager(dir.dataFolder());
        QSignalSpy sources(&manager, &FilterListManager::sourcesChanged);
        manager.setTunnelUp(true);
        QTRY_COMPARE(sources.count(), 1);
        const QString copy = manager.inputs().first().path;
        QCOMPARE(QFile(copy).size(), good.size());

        server.route("/list.txt", [=](const TestHttpServer::Request &) {
            TestHttpServer::Response r{status, "text/plain", body, {}};
            r.stallAt = stallAt;
            return r;
        });
        if (error == u"The list is larger than 0 MiB"_s)
            manager.setMaxBytes(1000);
        const bool stalled = error == u"The download timed out"_s;
        if (stalled)
            manager.setTimeoutMs(500);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"not updated"_s));
        manager.updateNow();
        if (stallAt >= 0 && !stalled) {
            QTRY_COMPARE(server.requestCount("/list.txt"), 2);
            QTest::qWait(100);
            server.abortConnections();
        }
        QTRY_VERIFY(!manager.lists().first().lastError.isEmpty());
        if (error != u"*"_s)
            QCOMPARE(manager.lists().first().lastError, error);
        QCOMPARE(sources.count(), 1);
        QCOMPARE(manager.lists().first().ruleCount, 40);
        QFile f(copy);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), good);
    }

    // Dropping the tunnel stops a download at once.
    void subscriptionTunnelDrop()
    {
        TempDataDir dir;
        TestHttpServer server;
        QVERIFY(server.listen());
        server.route("/list.txt", [](const TestHttpServer::Request &) {
            TestHttpServer::Response r{200, "text/plain", listText(manyRules(100)), {}};
            r.stallAt = 100;
            return r;
        });
        writeState(dir, {server.url(u"/list.txt"_s)});
        FilterListManager manager(dir.dataFolder());
        manager.setTunnelUp(true);
        QTRY_COMPARE(server.requestCount("/list.txt"), 1);
        QCOMPARE(manager.pendingUpdates(), 1);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"not updated"_s));
        manager.setTunnelUp(false);
        QCOMPARE(manager.pendingUpdates(), 0);
        QCOMPARE(manager.lists().first().lastError, u"The VPN tunnel went down during the download"_s);
        QVERIFY(manager.inputs().isEmpty());
    }

    // Add and remove by URL; My filters with per-line errors.
    void subscriptionEdit()
    {
        TempDataDir dir;
        writeState(dir, {});
        FilterListManager manager(dir.dataFolder());
        QSignalSpy sources(&manager, &FilterListManager::sourcesChanged);
        QString why;
        QVERIFY(!manager.addList(QUrl(u"ftp://lists.example/x.txt"_s), &why));
        QVERIFY(!why.isEmpty());
        QVERIFY(manager.addList(QUrl(u"http://127.0.0.1:9/x.txt"_s)));
        QVERIFY(!manager.addList(QUrl(u"http://127.0.0.1:9/x.txt"_s)));
        QCOMPARE(manager.lists().size(), 1);
        QVERIFY(manager.removeList(QUrl(u"http://127.0.0.1:9/x.txt"_s)));
        QVERIFY(manager.lists().isEmpty());

        const auto errors = manager.setUserRules(u"||mine.example^\n##.mine\n||x^$bogus\n/(a+)+/\n! note"_s);
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors[0].line, 3);
        QCOMPARE(errors[1].line, 4);
        QCOMPARE(sources.count(), 2);
        FilterListManager again(dir.dataFolder());
        QCOMPARE(again.userRules(), manager.userRules());
        const auto inputs = again.inputs();
        QCOMPARE(inputs.size(), 1);
        QCOMPARE(inputs.first().name, u"My filters"_s);
    }

    void listHeader_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("hours");
        QTest::newRow("days") << QByteArray("[Adblock Plus 2.0]\n! Expires: 6 days (update frequency)\n") << 144;
        QTest::newRow("hours") << QByteArray("[Adblock Plus 2.0]\n! Expires: 12 hours\n") << 12;
        QTest::newRow("none") << QByteArray("[Adblock Plus 2.0]\n||a^\n! Expires: 1 days\n") << 96;
        QTest::newRow("absurd") << QByteArray("[Adblock Plus 2.0]\n! Expires: 99999 days\n") << 720;
        QTest::newRow("zero") << QByteArray("[Adblock Plus 2.0]\n! expires:0 h\n") << 1;
    }
    void listHeader()
    {
        QFETCH(QByteArray, text);
        QTEST(FilterListManager::expiryHours(text), "hours");
    }

    // The browser takes the lists' rule counts from the engine it builds
    // from them instead of parsing each list a second time.
    void ruleCountsFromTheEngine()
    {
        TempDataDir dir;
        writeState(dir, {QUrl(u"http://127.0.0.1:9/a.txt"_s)});
        dir.writeFile(u"filterlists/"_s + QString::fromLatin1(QCryptographicHash::hash("http://127.0.0.1:9/a.txt",
                                                                                       QCryptographicHash::Sha1).toHex().left(16)) + u".txt"_s,
                      listText("||ads.example^\n##.ad\n##.banner\n"));
        FilterListManager manager(dir.dataFolder(), nullptr, FilterListManager::Counting::FromEngine);
        manager.setSnapshotFolder(QString());
        manager.waitForIdle();
        QCOMPARE(manager.lists().first().ruleCount, 0); // not counted on its own
        const auto inputs = manager.inputs();
        QCOMPARE(inputs.size(), 1);
        QSignalSpy changed(&manager, &FilterListManager::listsChanged);
        manager.noteRuleCounts(FilterEngineLoader::loadOrBuild(inputs, QString())->stats());
        QCOMPARE(manager.lists().first().ruleCount, 3);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(FilterListManager(dir.dataFolder(), nullptr, FilterListManager::Counting::FromEngine).lists().first().ruleCount, 3);
    }

    // The shipped snapshot stands in for a list never downloaded.
    void snapshotStandsIn()
    {
        const QString folder = QStringLiteral(ORVEX_TEST_SNAPSHOT_DIR);
        if (!QFile::exists(folder + u"/easylist.txt"_s))
            QSKIP("no filter list snapshot in this build");
        TempDataDir dir;
        writeState(dir, {QUrl(u"http://127.0.0.1:9/easylist.txt"_s), QUrl(u"http://127.0.0.1:9/easyprivacy.txt"_s)});
        FilterListManager manager(dir.dataFolder());
        manager.setSnapshotFolder(folder);
        const auto inputs = manager.inputs();
        QCOMPARE(inputs.size(), 2);
        const auto engine = FilterEngineLoader::loadOrBuild(inputs, QString());
        QVERIFY(engine->networkRuleCount() > 50000);
        QVERIFY(engine->decide(QUrl(u"https://www.google-analytics.com/analytics.js"_s), QUrl(u"https://news.example/"_s),
                               FilterRule::Script).blocked);
    }
};

QTEST_GUILESS_MAIN(TestFilterEngine)
#include "tst_filterengine.moc"
