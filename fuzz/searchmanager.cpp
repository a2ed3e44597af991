// fuzz-dict: json.dict
// SearchManager's loader on arbitrary search_engines.json contents: whatever
// loads is saved and loads again unchanged, and every engine's address
// building copes with it.
#include "FuzzSupport.h"
#include "SearchManager.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::captureMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString config = fuzz::freshConfig();
    fuzz::writeRaw(config + QStringLiteral("/orvexbrowser/search_engines.json"), bytes);

    SearchManager first(config);
    const QList<SearchEngine> engines = first.searchEngines();
    const QString keyword = first.defaultKeyword();
    for (const SearchEngine &engine : engines) {
        const QUrl url = first.searchUrl(QStringLiteral("a b&c"), engine.keyword);
        FUZZ_CHECK(url.isEmpty() || url.scheme().startsWith(QLatin1String("http"), Qt::CaseInsensitive));
    }
    first.searchUrl(QStringLiteral("x"));
    first.defaultEngine();

    first.saveEngines();
    SearchManager second(config);
    FUZZ_CHECK(second.searchEngines() == engines);
    FUZZ_CHECK(second.defaultKeyword() == keyword);
    return 0;
}
