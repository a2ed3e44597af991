#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QWebEngineDownloadRequest;

// One download of the current run. The request belongs to the web-engine
// profile; the item only watches it (and forgets it if the profile drops it).
class DownloadItem : public QObject
{
    Q_OBJECT
public:
    // How a download ended, as far as the engine told us.
    enum class EndState { Running, Completed, Cancelled, Failed };

    // Result of one speed/progress step; see nextSpeed().
    struct SpeedSample {
        qint64 speed = 0;
        qint64 sampleBytes = 0;
        qint64 sampleTime = 0;
    };

    DownloadItem(QWebEngineDownloadRequest *request, QObject *parent);
    DownloadItem(const QUrl &url, const QString &filename, QObject *parent);

    QUrl url() const { return m_url; }
    QString filename() const { return m_filename; }
    QString path() const { return m_path; }
    qint64 bytesReceived() const { return m_bytesReceived; }
    qint64 bytesTotal() const { return m_bytesTotal; }
    qint64 speed() const { return m_speed; }
    double progress() const;
    bool isFinished() const { return m_finished; }
    bool isPaused() const { return m_paused; }
    EndState endState() const { return m_endState; }
    QWebEngineDownloadRequest *request() const { return m_request; }

    // The engine announces a download again, with a new request object, when
    // it resumes it after a network error; the old object then never ends.
    // Follows the new request if it is this item's download (same id).
    bool takeOver(QWebEngineDownloadRequest *request);

    void pause();
    void resume();
    void cancel();

    // Speed is re-sampled at most once a second; between samples it keeps its
    // value, and a zero sample falls back to the average since the start.
    // Times in milliseconds since the epoch.
    static SpeedSample nextSpeed(qint64 received, qint64 now, qint64 startTime,
                                 qint64 sampleTime, qint64 sampleBytes, qint64 speed);

Q_SIGNALS:
    void progressChanged();
    void finished();
    void failed(const QString &error);

public Q_SLOTS:
    void onDownloadProgress(qint64 received, qint64 total);
    void onFinished();
    void onFailed();

private:
    void watch(QWebEngineDownloadRequest *request);

    QPointer<QWebEngineDownloadRequest> m_request;
    QUrl m_url;
    QString m_filename;
    QString m_path;
    qint64 m_bytesReceived = 0;
    qint64 m_bytesTotal = 0;
    bool m_finished = false;
    bool m_paused = false;
    qint64 m_sampleBytes = 0;
    qint64 m_speed = 0;
    qint64 m_startTime = 0;
    qint64 m_sampleTime = 0;
    EndState m_endState = EndState::Running;
};
