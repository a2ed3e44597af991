// The password obfuscation: decoding accepts anything (hand-edited files),
// encoding then decoding gives back any valid text, and neither logs.
#include "DataManager.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::captureMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    fuzz::messages().clear();

    // Stored values as found in a damaged or hand-written file.
    const QString stored = QString::fromUtf8(bytes);
    const QString decoded = DataManager::decryptPasswordStatic(stored);
    Q_UNUSED(decoded)

    // Any text a user can type (fromUtf8 yields well-formed UTF-16).
    const QString plain = QString::fromUtf8(bytes);
    const QString encoded = DataManager::encryptPasswordStatic(plain);
    for (const QChar c : encoded)
        FUZZ_CHECK(c.isLetterOrNumber() || c == QLatin1Char('+') || c == QLatin1Char('/') || c == QLatin1Char('='));
    FUZZ_CHECK(DataManager::decryptPasswordStatic(encoded) == plain);

    // Raw UTF-16 too, lone surrogates included: decoding must not crash.
    if (size >= 2) {
        const QString utf16(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
        DataManager::decryptPasswordStatic(utf16);
        DataManager::decryptPasswordStatic(DataManager::encryptPasswordStatic(utf16));
    }
    FUZZ_CHECK(fuzz::messages().isEmpty());
    return 0;
}
