#pragma once

#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

class DownloadItem;
class QWebEngineDownloadRequest;

// Tracks the downloads of this run and keeps a short history of ended ones
// in downloads.json (newest first, at most maxHistory records).
class DownloadManager : public QObject
{
    Q_OBJECT
public:
    static constexpr int maxHistory = 100;

    // dataFolder: where downloads.json lives; empty means the browser's data
    // folder under the user's configuration location.
    explicit DownloadManager(QObject *parent = nullptr, const QString &dataFolder = QString());

    QList<DownloadItem *> downloads() const { return m_downloads; }
    DownloadItem *downloadAt(int index) const;
    int downloadCount() const { return int(m_downloads.size()); }

    // offTheRecord: a private window's download. It is listed and
    // remembered for this run only, never written to downloads.json.
    void addDownload(QWebEngineDownloadRequest *request, bool offTheRecord = false);
    void addDownload(const QUrl &url, const QString &filename);

    QString defaultDownloadPath() const { return m_defaultDownloadPath; }
    void setDefaultDownloadPath(const QString &path) { m_defaultDownloadPath = path; }

    // Ended downloads, newest first: this run's private ones, then the stored ones.
    QJsonArray getDownloadHistory() const;
    // Forgets ended downloads: the stored list with the copies kept of a
    // damaged one, and this run's finished items. Returns the files that
    // could not be written or removed.
    QStringList clearHistory();

    QString getHistoryPath() const;

    // Puts a record at the front and drops the oldest beyond the cap.
    static QJsonArray prependCapped(const QJsonArray &history, const QJsonObject &record,
                                    int cap = maxHistory);

Q_SIGNALS:
    void downloadAdded(DownloadItem *item);
    void downloadFinished(DownloadItem *item);
    void downloadFailed(DownloadItem *item, const QString &error);

private Q_SLOTS:
    void onDownloadFinished();
    void onDownloadFailed();

private:
    void loadHistory();
    void saveHistory();
    void track(DownloadItem *item);

    QList<DownloadItem *> m_downloads;
    QString m_defaultDownloadPath;
    QJsonArray m_history;
    QJsonArray m_offTheRecordHistory;
    QString m_dataFolder;
};
