// fuzz-dict: json.dict
// PasswordDialog::parseImport on arbitrary import files: every element is
// either taken or counted as skipped, a refused file takes nothing, and no
// password reaches the log.
#include "DataManager.h"
#include "FuzzSupport.h"
#include "PasswordDialog.h"

#include <QJsonArray>
#include <QJsonDocument>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::captureMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    fuzz::messages().clear();
    const PasswordDialog::ImportResult result = PasswordDialog::parseImport(bytes);
    if (!result.ok) {
        FUZZ_CHECK(!result.error.isEmpty());
        FUZZ_CHECK(result.entries.isEmpty());
        return 0;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    FUZZ_CHECK(doc.isArray());
    FUZZ_CHECK(result.entries.size() + result.skipped == doc.array().size());
    for (const PasswordDialog::ImportEntry &entry : result.entries) {
        FUZZ_CHECK(!entry.url.isEmpty());
        const QString plain = DataManager::decryptPasswordStatic(entry.storedPassword);
        for (const QString &message : std::as_const(fuzz::messages())) {
            FUZZ_CHECK(entry.storedPassword.size() < 4 || !message.contains(entry.storedPassword));
            FUZZ_CHECK(plain.size() < 4 || !message.contains(plain));
        }
    }
    return 0;
}
