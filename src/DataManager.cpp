#include "DataManager.h"

#include <QHash>
#include <QSet>
#include <QUrl>

#include "StoreFile.h"

#include <QByteArray>
#include <QDateTime>
#include <QDebug>
#include <QJsonDocument>
#include <QStandardPaths>

namespace {
// Part of the stored format: files written with another key can't be read.
const QString obfuscationKey = QStringLiteral("Mirelt0Quaspen26");

QString now()
{
    return QDateTime::currentDateTime().toString(Qt::ISODate);
}

QString xorWithKey(const QString &text)
{
    QString out(text.size(), Qt::Uninitialized);
    const qsizetype n = obfuscationKey.size();
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = QChar(char16_t(text.at(i).unicode() ^ obfuscationKey.at(i % n).unicode()));
    return out;
}
}

DataManager::DataManager(QObject *parent)
    : DataManager(QString(), parent)
{
}

DataManager::DataManager(const QString &configLocation, QObject *parent)
    : QObject(parent)
    , configLocation(configLocation)
{
    loadBookmarks();
    loadHistory();
    loadPasswords();
    loadSettings();
    loadSession();
}

QString DataManager::folderPath(const QString &suffix) const
{
    const QString base = configLocation.isEmpty()
        ? QStandardPaths::writableLocation(QStandardPaths::ConfigLocation)
        : configLocation;
    return base + suffix;
}

QString DataManager::defaultSettingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::ConfigLocation)
        + QStringLiteral("/orvexbrowser/settings.json");
}

QString DataManager::getBookmarksPath() const { return folderPath(QStringLiteral("/orvexbrowser/bookmarks.json")); }
QString DataManager::getHistoryPath() const { return folderPath(QStringLiteral("/orvexbrowser/history.json")); }
QString DataManager::getPasswordsPath() const { return folderPath(QStringLiteral("/orvexbrowser/passwords.json")); }
QString DataManager::getSettingsPath() const { return folderPath(QStringLiteral("/orvexbrowser/settings.json")); }
QString DataManager::getSessionPath() const { return folderPath(QStringLiteral("/orvexbrowser/session.json")); }

// Loading: an absent file is a first start; a damaged one has already been
// copied aside by StoreFile, so the empty collection may overwrite it later.
QJsonArray DataManager::loadArray(const QString &path)
{
    StoreFile::LoadResult result{};
    const QJsonDocument doc = StoreFile::readJson(path, StoreFile::JsonType::Array, &result);
    if (result == StoreFile::LoadResult::Unreadable)
        qWarning().noquote() << "DataManager: cannot read" << path << "- starting with an empty collection";
    return doc.array();
}

void DataManager::loadBookmarks() { bookmarks = loadArray(getBookmarksPath()); }
void DataManager::loadPasswords() { passwords = loadArray(getPasswordsPath()); }
void DataManager::loadSession() { session = loadArray(getSessionPath()); }

void DataManager::loadHistory()
{
    history = loadArray(getHistoryPath());
    // Newest first, so the surplus is the oldest; the file keeps it until the next change.
    while (history.size() > MaxHistoryEntries)
        history.removeLast();
}

void DataManager::loadSettings()
{
    StoreFile::LoadResult result{};
    const QJsonDocument doc = StoreFile::readJson(getSettingsPath(), StoreFile::JsonType::Object, &result);
    switch (result) {
    case StoreFile::LoadResult::Loaded:
        settings = doc.object();
        break;
    case StoreFile::LoadResult::Corrupt:
        settings = QJsonObject(); // the settings dialog shows its own defaults
        break;
    case StoreFile::LoadResult::Unreadable:
        qWarning().noquote() << "DataManager: cannot read" << getSettingsPath() << "- using the default settings";
        Q_FALLTHROUGH();
    case StoreFile::LoadResult::Missing:
        settings = defaultSettings(); // in memory only until the first setSettings
        break;
    }
}

QJsonObject DataManager::defaultSettings()
{
    return QJsonObject{
        {QStringLiteral("adBlocking"), true},
        {QStringLiteral("trackingProtection"), true},
        {QStringLiteral("fingerprintProtection"), true},
        {QStringLiteral("cookieBlocking"), true},
        {QStringLiteral("blockAllCookies"), true},
        {QStringLiteral("blockFonts"), true},
        {QStringLiteral("blockCamera"), true},
        {QStringLiteral("blockMicrophone"), true},
        {QStringLiteral("blockGeolocation"), true},
        {QStringLiteral("blockNotifications"), true},
        {QStringLiteral("theme"), QStringLiteral("dark")},
    };
}

bool DataManager::saveJson(const QString &path, const QJsonDocument &doc, bool secret)
{
    if (StoreFile::writeJson(path, doc, secret ? StoreFile::Access::Secret : StoreFile::Access::Normal))
        return true;
    qWarning().noquote() << "DataManager: could not write" << path << "- the change is kept in memory only";
    return false;
}

// Every change of the two collections ends in its save: listeners hear of it there.
void DataManager::saveBookmarks()
{
    saveJson(getBookmarksPath(), QJsonDocument(bookmarks), false);
    emit bookmarksChanged();
}

void DataManager::saveHistory()
{
    saveJson(getHistoryPath(), QJsonDocument(history), false);
    emit historyChanged();
}
void DataManager::savePasswords() { saveJson(getPasswordsPath(), QJsonDocument(passwords), true); }
void DataManager::saveSettings() { saveJson(getSettingsPath(), QJsonDocument(settings), false); }
void DataManager::saveSession() { saveJson(getSessionPath(), QJsonDocument(session), false); }

QJsonArray DataManager::withoutMatching(const QJsonArray &records, const QString &key, const QString &value)
{
    QJsonArray out;
    for (const QJsonValue &record : records) {
        if (record[key].toString() != value)
            out.append(record);
    }
    return out;
}

// One site can hold several logins: a login is its address and user name.
static QJsonArray withoutLogin(const QJsonArray &records, const QString &url, const QString &username)
{
    QJsonArray out;
    for (const QJsonValue &record : records) {
        if (record[QLatin1String("url")].toString() != url || record[QLatin1String("username")].toString() != username)
            out.append(record);
    }
    return out;
}

QJsonArray DataManager::withVisit(QJsonArray history, const QJsonObject &record, int cap)
{
    const QString url = record.value(QLatin1String("url")).toString();
    // In place from the back: addHistory runs on every page load.
    for (qsizetype i = history.size() - 1; i >= 0; --i) {
        if (history.at(i)[QLatin1String("url")].toString() == url)
            history.removeAt(i);
    }
    history.prepend(record);
    while (history.size() > cap)
        history.removeLast();
    return history;
}

void DataManager::addBookmark(const QString &url, const QString &title)
{
    const QJsonObject record{{QStringLiteral("url"), url},
                             {QStringLiteral("title"), title},
                             {QStringLiteral("added"), now()}};
    QJsonArray updated = withoutMatching(bookmarks, QStringLiteral("url"), url);
    updated.prepend(record);
    bookmarks = updated;
    saveBookmarks();
}

QString DataManager::bookmarkKey(const QString &url)
{
    QUrl parsed(url, QUrl::TolerantMode);
    if (!parsed.isValid())
        return url;
    if (parsed.path().isEmpty() && !parsed.host().isEmpty())
        parsed.setPath(QStringLiteral("/"));
    return parsed.toString();
}

int DataManager::addBookmarks(const QList<Bookmark> &newBookmarks)
{
    QSet<QString> known;
    known.reserve(bookmarks.size() + newBookmarks.size());
    for (const QJsonValue &record : std::as_const(bookmarks))
        known.insert(bookmarkKey(record[QLatin1String("url")].toString()));
    const QString stamp = now();
    int added = 0;
    for (const Bookmark &bookmark : newBookmarks) {
        if (bookmark.url.isEmpty())
            continue;
        const QString key = bookmarkKey(bookmark.url);
        if (known.contains(key))
            continue;
        known.insert(key);
        bookmarks.append(QJsonObject{{QStringLiteral("url"), bookmark.url},
                                     {QStringLiteral("title"), bookmark.title},
                                     {QStringLiteral("added"), bookmark.added.isEmpty() ? stamp : bookmark.added}});
        ++added;
    }
    if (added > 0)
        saveBookmarks();
    return added;
}

void DataManager::removeBookmark(const QString &url)
{
    bookmarks = withoutMatching(bookmarks, QStringLiteral("url"), url);
    saveBookmarks();
}

void DataManager::addHistory(const QString &url, const QString &title)
{
    const QJsonObject record{{QStringLiteral("url"), url},
                             {QStringLiteral("title"), title},
                             {QStringLiteral("timestamp"), now()}};
    history = withVisit(std::move(history), record);
    saveHistory();
}

void DataManager::removeHistory(const QString &url)
{
    history = withoutMatching(history, QStringLiteral("url"), url);
    saveHistory();
}

void DataManager::removeHistory(const QStringList &urls)
{
    const QSet<QString> gone(urls.cbegin(), urls.cend());
    QJsonArray kept;
    for (const QJsonValue &old : std::as_const(history)) {
        if (!gone.contains(old[QLatin1String("url")].toString()))
            kept.append(old);
    }
    history = kept;
    saveHistory();
}

void DataManager::clearHistory()
{
    history = QJsonArray();
    saveHistory();
}

void DataManager::addPassword(const QString &url, const QString &username, const QString &password)
{
    addPasswords({Login{url, username, password}});
}

void DataManager::addPasswords(const QList<Login> &logins)
{
    if (logins.isEmpty())
        return;
    const QString stamp = now();
    // As if each were added in turn: the last login of a site and user wins
    // and goes to the end; linear, so a 10,000-line import stays quick.
    using Key = std::pair<QString, QString>;
    QHash<Key, qsizetype> last;
    last.reserve(logins.size());
    for (qsizetype i = 0; i < logins.size(); ++i)
        last.insert(Key(logins.at(i).url, logins.at(i).username), i);
    QJsonArray updated;
    for (const QJsonValue &record : std::as_const(passwords)) {
        const Key key(record[QLatin1String("url")].toString(), record[QLatin1String("username")].toString());
        if (!last.contains(key))
            updated.append(record);
    }
    for (qsizetype i = 0; i < logins.size(); ++i) {
        const Login &login = logins.at(i);
        if (last.value(Key(login.url, login.username)) != i)
            continue;
        updated.append(QJsonObject{{QStringLiteral("url"), login.url},
                                   {QStringLiteral("username"), login.username},
                                   {QStringLiteral("password"), encryptPassword(login.password)},
                                   {QStringLiteral("added"), stamp}});
    }
    passwords = updated;
    savePasswords();
}

void DataManager::removePassword(const QString &url)
{
    passwords = withoutMatching(passwords, QStringLiteral("url"), url);
    savePasswords();
}

void DataManager::removePassword(const QString &url, const QString &username)
{
    passwords = withoutLogin(passwords, url, username);
    savePasswords();
}

QString DataManager::encryptPasswordStatic(const QString &plain)
{
    // The key is ASCII, so surrogates stay surrogates of the same kind and
    // the XORed text is still valid UTF-16 for the UTF-8 step.
    return QString::fromLatin1(xorWithKey(plain).toUtf8().toBase64());
}

QString DataManager::decryptPasswordStatic(const QString &stored)
{
    // Default Base64 decoding skips characters outside the alphabet.
    return xorWithKey(QString::fromUtf8(QByteArray::fromBase64(stored.toUtf8())));
}

void DataManager::setSettings(const QJsonObject &newSettings)
{
    settings = newSettings;
    saveSettings();
}

void DataManager::setSession(const QJsonArray &newSession)
{
    session = newSession;
    saveSession();
}

void DataManager::clearSession()
{
    session = QJsonArray();
    saveSession();
}

QStringList DataManager::clearAll()
{
    history = QJsonArray();
    session = QJsonArray();
    bookmarks = QJsonArray();
    passwords = QJsonArray();
    settings = defaultSettings();
    const struct {
        QString path;
        QJsonDocument doc;
        bool secret;
    } stores[] = {
        {getHistoryPath(), QJsonDocument(history), false},   {getSessionPath(), QJsonDocument(session), false},
        {getBookmarksPath(), QJsonDocument(bookmarks), false}, {getPasswordsPath(), QJsonDocument(passwords), true},
        {getSettingsPath(), QJsonDocument(settings), false},
    };
    QStringList failed;
    for (const auto &store : stores) {
        if (!saveJson(store.path, store.doc, store.secret))
            failed << store.path;
        // Copies of damaged files can hold old passwords and history.
        failed << StoreFile::removeDamagedCopies(store.path);
    }
    return failed;
}
