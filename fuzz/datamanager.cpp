// fuzz-dict: json.dict
// DataManager's five loaders on arbitrary file contents: the first byte picks
// the store. Whatever loads is saved and must load again unchanged; no input
// may crash or leave the passwords file readable by others.
#include "DataManager.h"
#include "FuzzSupport.h"

#include <QJsonArray>
#include <QJsonObject>

#include <sys/stat.h>

namespace {
enum Store { Bookmarks, History, Passwords, Settings, Session, StoreCount };

QJsonValue collection(const DataManager &dm, int store)
{
    switch (store) {
    case Bookmarks: return dm.getBookmarks();
    case History: return dm.getHistory();
    case Passwords: return dm.getPasswords();
    case Settings: return dm.getSettings();
    default: return dm.getSession();
    }
}

QString pathOf(const DataManager &dm, int store)
{
    switch (store) {
    case Bookmarks: return dm.getBookmarksPath();
    case History: return dm.getHistoryPath();
    case Passwords: return dm.getPasswordsPath();
    case Settings: return dm.getSettingsPath();
    default: return dm.getSessionPath();
    }
}

void save(DataManager &dm, int store)
{
    switch (store) {
    case Bookmarks: dm.saveBookmarks(); break;
    case History: dm.saveHistory(); break;
    case Passwords: dm.savePasswords(); break;
    case Settings: dm.saveSettings(); break;
    default: dm.saveSession(); break;
    }
}
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::captureMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int store = data[0] % StoreCount;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QString config = fuzz::freshConfig();

    DataManager probe(config);
    const QString path = pathOf(probe, store);
    fuzz::writeRaw(path, bytes);

    DataManager first(config);
    const QJsonValue loaded = collection(first, store);
    if (store == History)
        FUZZ_CHECK(first.getHistory().size() <= DataManager::MaxHistoryEntries);
    save(first, store);
    DataManager second(config);
    // Qt's reader drops raw U+FEFF bytes inside strings, so such hostile input
    // can load with two equal keys; everything else must survive unchanged.
    if (!bytes.contains("\xEF\xBB\xBF"))
        FUZZ_CHECK(collection(second, store) == loaded);

    if (store == Passwords) {
        struct stat st {};
        FUZZ_CHECK(::stat(QFile::encodeName(path).constData(), &st) == 0);
        FUZZ_CHECK((st.st_mode & 0077) == 0);
        // Records of any shape can be decoded without harm.
        for (const QJsonValue &record : second.getPasswords())
            DataManager::decryptPasswordStatic(record[QLatin1String("password")].toString());
    }
    return 0;
}
