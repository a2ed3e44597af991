// fuzz-dict: json.dict
// StoreFile::readJson on arbitrary file contents: never loses the user's
// bytes, and what it loads survives writeJson + readJson unchanged.
#include "FuzzSupport.h"
#include "StoreFile.h"

#include <QJsonArray>
#include <QJsonObject>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::captureMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const auto type = (data[0] & 1) ? StoreFile::JsonType::Object : StoreFile::JsonType::Array;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QString folder = fuzz::freshConfig() + QStringLiteral("/orvexbrowser");
    const QString path = folder + QStringLiteral("/store.json");
    fuzz::writeRaw(path, bytes);

    StoreFile::LoadResult result{};
    const QJsonDocument doc = StoreFile::readJson(path, type, &result);
    FUZZ_CHECK(type == StoreFile::JsonType::Array ? doc.isArray() : doc.isObject());
    switch (result) {
    case StoreFile::LoadResult::Loaded: {
        FUZZ_CHECK(StoreFile::writeJson(path, doc));
        StoreFile::LoadResult again{};
        const QJsonDocument reloaded = StoreFile::readJson(path, type, &again);
        FUZZ_CHECK(again == StoreFile::LoadResult::Loaded);
        // Qt's reader drops raw U+FEFF bytes inside strings, so such hostile
        // input can come in with two equal keys; what we write is stable.
        if (!bytes.contains("\xEF\xBB\xBF"))
            FUZZ_CHECK(reloaded == doc);
        FUZZ_CHECK(StoreFile::writeJson(path, reloaded));
        FUZZ_CHECK(StoreFile::readJson(path, type, &again) == reloaded);
        break;
    }
    case StoreFile::LoadResult::Missing:
        FUZZ_CHECK(bytes.trimmed().isEmpty());
        FUZZ_CHECK(doc.array().isEmpty() && doc.object().isEmpty());
        break;
    case StoreFile::LoadResult::Corrupt: {
        FUZZ_CHECK(doc.array().isEmpty() && doc.object().isEmpty());
        // The original stays in place and a byte-identical copy is kept.
        FUZZ_CHECK(fuzz::readRaw(path) == bytes);
        const QStringList copies = QDir(folder).entryList({QStringLiteral("store.json.corrupt-*")}, QDir::Files);
        FUZZ_CHECK(copies.size() == 1);
        FUZZ_CHECK(fuzz::readRaw(folder + QLatin1Char('/') + copies.first()) == bytes);
        // Met again: no second copy.
        StoreFile::readJson(path, type);
        FUZZ_CHECK(QDir(folder).entryList({QStringLiteral("store.json.corrupt-*")}, QDir::Files).size() == 1);
        break;
    }
    case StoreFile::LoadResult::Unreadable:
        FUZZ_CHECK(false); // a file we just wrote
        break;
    }
    return 0;
}
