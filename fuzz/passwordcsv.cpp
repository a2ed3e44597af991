// PasswordCsv::parse on arbitrary files: a refused file takes nothing and its
// message quotes none of it; every login taken has an address and a
// password; what write() makes of them reads back the same.
#include "DataManager.h"
#include "FuzzSupport.h"
#include "PasswordCsv.h"

#include <QJsonObject>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::captureMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    fuzz::messages().clear();
    const PasswordCsv::ParseResult result = PasswordCsv::parse(bytes);
    FUZZ_CHECK(fuzz::messages().isEmpty());
    if (!result.ok) {
        FUZZ_CHECK(!result.error.isEmpty() && result.logins.isEmpty());
        // Only fixed words and a line number: nothing of the file.
        for (const QChar c : result.error)
            FUZZ_CHECK(c.unicode() < 128);
        return 0;
    }
    FUZZ_CHECK(result.format != PasswordCsv::Format::Unknown && result.skipped >= 0);
    QJsonArray stored;
    for (const DataManager::Login &login : result.logins) {
        FUZZ_CHECK(!login.url.isEmpty() && login.url == login.url.trimmed() && !login.password.isEmpty());
        stored.append(QJsonObject{{QStringLiteral("url"), login.url},
                                  {QStringLiteral("username"), login.username},
                                  {QStringLiteral("password"), DataManager::encryptPasswordStatic(login.password)}});
    }
    const PasswordCsv::ParseResult back = PasswordCsv::parse(PasswordCsv::write(stored));
    FUZZ_CHECK(back.ok && back.format == PasswordCsv::Format::Chromium && back.skipped == 0);
    FUZZ_CHECK(back.logins.size() == result.logins.size());
    for (qsizetype i = 0; i < back.logins.size(); ++i) {
        const DataManager::Login &a = result.logins.at(i);
        const DataManager::Login &b = back.logins.at(i);
        FUZZ_CHECK(a.url == b.url && a.username == b.username);
        // The store keeps UTF-16 text through UTF-8: lone surrogates may not survive it.
        FUZZ_CHECK(a.password == b.password || a.password.toUtf8() == b.password.toUtf8());
    }
    return 0;
}
