// FilterEngine::build on arbitrary list text (lists are downloaded), then
// the compiled cache form: what is built survives toBytes/fromBytes with the
// same decisions, and the style sheet carries no braces of the list's own.
// fuzz-dict: filterlist.dict
#include "FuzzSupport.h"
#include "FilterEngine.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::captureMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto engine = FilterEngine::build({{QStringLiteral("fuzz"), text}});
    FUZZ_CHECK(engine);
    const FilterEngine::ListStats &stats = engine->stats().first();
    FUZZ_CHECK(stats.networkRules == engine->networkRuleCount());
    FUZZ_CHECK(stats.hidingRules == engine->hidingRuleCount());

    const auto loaded = FilterEngine::fromBytes(engine->toBytes("k"), "k");
    FUZZ_CHECK(loaded);
    FUZZ_CHECK(loaded->networkRuleCount() == engine->networkRuleCount());

    static const char *const urls[] = {
        "https://ads.example.com/banner/ad.js?x=1", "http://tracker.example.net:8080/p.gif",
        "https://cdn.example.org/a%20b/ADS/x", "wss://socket.example.com/", "https://xn--bcher-kva.example/",
    };
    const FilterEngine::Page page = engine->page(QByteArrayView("https://www.news.example.co.uk/story"));
    const FilterEngine::Page page2 = loaded->page(QByteArrayView("https://www.news.example.co.uk/story"));
    FUZZ_CHECK(page.documentRule == page2.documentRule);
    for (const char *url : urls) {
        for (quint32 type : {quint32(FilterRule::Script), quint32(FilterRule::Image), quint32(FilterRule::Document)}) {
            const FilterEngine::Decision a = engine->decide(QByteArrayView(url), page, type);
            const FilterEngine::Decision b = loaded->decide(QByteArrayView(url), page2, type);
            FUZZ_CHECK(a.blocked == b.blocked && a.rule == b.rule);
            FUZZ_CHECK(!a.blocked || !engine->ruleText(a.rule).isEmpty());
        }
    }
    const QString sheet = engine->styleSheet(page);
    FUZZ_CHECK(sheet.count(QLatin1Char('{')) == sheet.count(QLatin1String(" { display: none !important; }")));
    FUZZ_CHECK(sheet.count(QLatin1Char('}')) == sheet.count(QLatin1Char('{')));
    return 0;
}
