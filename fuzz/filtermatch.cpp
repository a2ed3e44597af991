// FilterEngine::decide with arbitrary rules, request URL and page URL (a
// page can request anything). Input: rules, NUL, URL, NUL, page URL.
// Checks: the decision is the same twice, a blocking decision names a rule,
// and globMatch agrees with itself on the anchored/unanchored forms.
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
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<QByteArray> parts = bytes.split('\0');
    const QByteArray rules = parts.value(0);
    const QByteArray url = parts.value(1);
    const QByteArray pageUrl = parts.value(2);

    const auto engine = FilterEngine::build({{QStringLiteral("fuzz"), rules}});
    const FilterEngine::Page page = engine->page(QByteArrayView(pageUrl));
    for (quint32 type = 1; type <= FilterRule::WebSocket; type <<= 1) {
        const FilterEngine::Decision a = engine->decide(QByteArrayView(url), page, type);
        const FilterEngine::Decision b = engine->decide(QByteArrayView(url), page, type);
        FUZZ_CHECK(a.blocked == b.blocked && a.rule == b.rule && a.documentAllowed == b.documentAllowed);
        FUZZ_CHECK(!a.blocked || a.rule >= 0);
        FUZZ_CHECK(a.rule < engine->networkRuleCount());
        if (a.blocked)
            FUZZ_CHECK(engine->findException(QByteArrayView(url), page, type) < 0 || engine->ruleText(a.rule).contains(QLatin1String("important")));
    }
    // A pattern that matches anchored at 0 also matches unanchored.
    const QByteArray pattern = rules.left(64).toLower();
    if (FilterEngine::globMatch(pattern, url, 0, true, false))
        FUZZ_CHECK(FilterEngine::globMatch(pattern, url, 0, false, false));
    if (FilterEngine::globMatch(pattern, url, 0, true, true))
        FUZZ_CHECK(FilterEngine::globMatch(pattern, url, 0, false, true));
    return 0;
}
