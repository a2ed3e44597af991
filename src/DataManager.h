#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

// The browser's local store of bookmarks, history, saved passwords, settings
// and the last session. Memory is authoritative; every change rewrites that
// collection's file atomically before returning. Write failures are silent
// for the caller: the change stays in memory and the old file stays intact.
class DataManager : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxHistoryEntries = 1000;

    explicit DataManager(QObject *parent = nullptr);
    // configLocation replaces the user's generic configuration folder (tests).
    explicit DataManager(const QString &configLocation, QObject *parent = nullptr);

    QString getBookmarksPath() const;
    QString getHistoryPath() const;
    QString getPasswordsPath() const;
    QString getSettingsPath() const;
    QString getSessionPath() const;
    // settings.json of the user's own data folder, without loading anything
    // (read at start-up before the application object exists).
    static QString defaultSettingsPath();

    QJsonArray getBookmarks() const { return bookmarks; }
    void addBookmark(const QString &url, const QString &title);
    void removeBookmark(const QString &url);
    struct Bookmark {
        QString url;
        QString title;
        QString added; // the store's timestamp; empty: now
    };
    // Appends, in order and with one write, each bookmark whose address is
    // not stored yet (nor earlier in the list). Returns how many were added.
    int addBookmarks(const QList<Bookmark> &newBookmarks);
    void saveBookmarks();

    QJsonArray getHistory() const { return history; }
    void addHistory(const QString &url, const QString &title);
    void removeHistory(const QString &url);
    void removeHistory(const QStringList &urls); // one write for many entries
    void clearHistory();
    void saveHistory();

    // "password" values stay obfuscated; see decryptPasswordStatic().
    QJsonArray getPasswords() const { return passwords; }
    void addPassword(const QString &url, const QString &username, const QString &password);
    struct Login {
        QString url;
        QString username;
        QString password; // plain text
    };
    void addPasswords(const QList<Login> &logins); // as addPassword for each, one write
    void removePassword(const QString &url);                          // every login of the site
    void removePassword(const QString &url, const QString &username); // that login only
    void savePasswords();

    QString encryptPassword(const QString &plain) const { return encryptPasswordStatic(plain); }
    QString decryptPassword(const QString &stored) const { return decryptPasswordStatic(stored); }
    // Stored format: Base64(UTF-8(text XOR key)); lenient on damaged input.
    static QString encryptPasswordStatic(const QString &plain);
    static QString decryptPasswordStatic(const QString &stored);

    QJsonObject getSettings() const { return settings; }
    void setSettings(const QJsonObject &newSettings);
    void saveSettings();
    static QJsonObject defaultSettings();

    QJsonArray getSession() const { return session; }
    void setSession(const QJsonArray &newSession);
    void clearSession();
    void saveSession();

    // Empties history, session, bookmarks and passwords, puts the default
    // settings back and removes the copies kept of damaged files. Returns the
    // files that could not be written or removed.
    QStringList clearAll();

    // Pure record rules, shared by the operations above.
    static QJsonArray withoutMatching(const QJsonArray &records, const QString &key, const QString &value);
    static QJsonArray withVisit(QJsonArray history, const QJsonObject &record, int cap = MaxHistoryEntries);
    // The same page whatever trivial spelling: "https://a.example" is "https://a.example/".
    static QString bookmarkKey(const QString &url);

Q_SIGNALS:
    // After every change of the collection, whoever made it (the address
    // bar's completion follows them).
    void bookmarksChanged();
    void historyChanged();

private:
    QString folderPath(const QString &suffix) const;
    void loadBookmarks();
    void loadHistory();
    void loadPasswords();
    void loadSettings();
    void loadSession();
    static QJsonArray loadArray(const QString &path);
    static bool saveJson(const QString &path, const QJsonDocument &doc, bool secret);

    QString configLocation; // empty: QStandardPaths' generic configuration folder
    QJsonArray bookmarks;
    QJsonArray history;
    QJsonArray passwords;
    QJsonObject settings;
    QJsonArray session;
};
