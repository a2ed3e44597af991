// fuzz-dict: json.dict
// DownloadManager's loader on arbitrary downloads.json contents: it loads
// a list or nothing, keeps damaged bytes aside and never crashes.
#include "DownloadManager.h"
#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::captureMessages();
    new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString folder = fuzz::freshConfig() + QStringLiteral("/orvexbrowser");
    const QString path = folder + QStringLiteral("/downloads.json");
    fuzz::writeRaw(path, bytes);
    DownloadManager manager(nullptr, folder);
    const QJsonArray history = manager.getDownloadHistory();
    FUZZ_CHECK(manager.getHistoryPath() == path);
    FUZZ_CHECK(fuzz::readRaw(path) == bytes); // loading never rewrites
    if (!history.isEmpty())
        FUZZ_CHECK(QJsonDocument::fromJson(bytes).array() == history);
    // Clearing writes an empty list that loads again.
    manager.clearHistory();
    FUZZ_CHECK(DownloadManager(nullptr, folder).getDownloadHistory().isEmpty());
    return 0;
}
