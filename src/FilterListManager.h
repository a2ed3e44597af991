#pragma once

#include "FilterEngineLoader.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// The filter lists the browser subscribes to, and the user's own rules.
//
// Keeps the subscriptions (by default EasyList and EasyPrivacy), a stored
// copy of each list in the data folder, and "My filters". Lists are updated
// in the background only while a VPN tunnel is up (no request of ours leaves
// outside the tunnel): when the list's "! Expires:" period has passed, with a
// conditional request, a size cap and a timeout. A download replaces the
// stored copy only when it is an Adblock Plus list ("[Adblock Plus" header)
// that parses into a sane number of rules; otherwise the old copy stays and
// the failure is kept for the list's row. Until a list has been downloaded,
// the snapshot shipped with the browser stands in for it.
//
// Files in the data folder: filterlists.json (state), filterlists/*.txt
// (copies), myfilters.txt (the user's rules).
class FilterListManager : public QObject
{
    Q_OBJECT
public:
    struct List {
        QUrl url;
        QString title;         // "! Title:" of the list, else the file name
        int ruleCount = 0;     // rules of the copy in use
        QDateTime lastUpdate;  // last time the copy was confirmed current; null: shipped snapshot
        QString lastError;     // of the last attempt, empty after a success
        bool updating = false;
        bool fromSnapshot = false; // never downloaded: the shipped snapshot stands in
    };
    struct LineError {
        int line = 0; // 1-based
        QString message;
    };

    static constexpr qint64 DefaultMaxBytes = 16 * 1024 * 1024;
    static constexpr int DefaultTimeoutMs = 60 * 1000;
    static constexpr int DefaultExpiryHours = 4 * 24;
    // A failed list is not tried again automatically before this.
    static constexpr int RetryAfterMinutes = 60;
    static constexpr int CheckIntervalMs = 60 * 60 * 1000;

    // How the rule counts of the lists' rows are found: by parsing each list
    // in the background, or from the engine built from them (noteRuleCounts),
    // which saves parsing every list twice at start-up.
    enum class Counting { InBackground, FromEngine };

    // dataFolder: empty for the browser's data folder.
    explicit FilterListManager(const QString &dataFolder = QString(), QObject *parent = nullptr,
                               Counting counting = Counting::InBackground);
    ~FilterListManager() override;

    // The subscriptions of a fresh profile (build-time ORVEX_FILTER_LISTS).
    static QList<QUrl> defaultLists();
    // Replaces them for this run (tests and demos point them at loopback);
    // resetDefaultLists() brings back the build-time ones.
    static void setDefaultLists(const QList<QUrl> &urls);
    static void resetDefaultLists();
    // Folders where the shipped snapshot may be: next to the executable (the
    // build folder), the installed data folder.
    static QStringList snapshotFolders();
    void setSnapshotFolder(const QString &folder) { m_snapshotFolder = folder; }
    void setMaxBytes(qint64 bytes) { m_maxBytes = bytes; }
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

    QList<List> lists() const;
    // Subscribes to an http(s) list; false (with the reason) for a bad or known URL.
    bool addList(const QUrl &url, QString *error = nullptr);
    bool removeList(const QUrl &url);

    QString userRules() const { return m_userRules; }
    // Stores the user's rules and returns the lines the engine will not use.
    QList<LineError> setUserRules(const QString &text);
    static QList<LineError> checkRules(const QString &text);

    // What the engine is built from: each list's copy (or snapshot) and My filters.
    QList<FilterEngineLoader::Input> inputs() const;
    // The rules an engine built from inputs() used, per list (by title).
    void noteRuleCounts(const QList<FilterEngine::ListStats> &stats);

    bool isTunnelUp() const { return m_tunnelUp; }
    // Lists downloading now.
    int pendingUpdates() const { return int(m_replies.size()); }
    // Blocks until no rule count is being worked out (tests, shutdown).
    void waitForIdle();

    // Parsing helpers, pure.
    static int expiryHours(const QByteArray &listText);
    static QString listTitle(const QByteArray &listText);
    static bool looksLikeFilterList(const QByteArray &text);
    static int countRules(const QByteArray &text);

public Q_SLOTS:
    // The window calls this with the VPN state. Dropping the tunnel cancels
    // downloads in flight; bringing it up checks for due updates.
    void setTunnelUp(bool up);
    // Downloads the lists whose expiry has passed (tunnel permitting).
    void checkForUpdates();
    // Downloads every list now, expired or not (tunnel permitting).
    void updateNow();

Q_SIGNALS:
    // A row changed: count, date, error, updating, or the set of lists.
    void listsChanged();
    // The rules changed (new copy, list added or removed, My filters).
    void sourcesChanged();

private:
    struct Entry {
        QUrl url;
        QString title;
        QString file; // copy in <data>/filterlists/
        QByteArray etag;
        QByteArray lastModified;
        QDateTime lastUpdate;
        QDateTime lastAttempt;
        int expiryHours = DefaultExpiryHours;
        int ruleCount = -1; // -1: not counted yet
        QString lastError;
    };

    QString copyPath(const Entry &e) const;
    QString snapshotPath(const QUrl &url) const;
    Entry *find(const QUrl &url);
    void load();
    void save();
    void start(Entry &e);
    void onFinished(QNetworkReply *reply, const QUrl &url);
    void accept(const QUrl &url, const QByteArray &body, const QByteArray &etag, const QByteArray &lastModified,
                int rules);
    void fail(const QUrl &url, const QString &error);
    void countInBackground(const QUrl &url);

    QString m_dataFolder;
    QString m_snapshotFolder;
    Counting m_counting = Counting::InBackground;
    QList<Entry> m_entries;
    QString m_userRules;
    bool m_tunnelUp = false;
    qint64 m_maxBytes = DefaultMaxBytes;
    int m_timeoutMs = DefaultTimeoutMs;
    QNetworkAccessManager *m_network = nullptr;
    QHash<QUrl, QNetworkReply *> m_replies;
    QTimer m_timer;
    QThreadPool m_pool;
};
