#include "DownloadItem.h"

#include <QDateTime>
#include <QWebEngineDownloadRequest>

DownloadItem::DownloadItem(QWebEngineDownloadRequest *request, QObject *parent)
    : QObject(parent)
    , m_request(request)
    , m_startTime(QDateTime::currentMSecsSinceEpoch())
{
    m_sampleTime = m_startTime;
    if (!request)
        return;
    m_url = request->url();
    m_filename = request->downloadFileName();
    m_path = request->downloadDirectory() + QLatin1Char('/') + m_filename;
    watch(request);
}

void DownloadItem::watch(QWebEngineDownloadRequest *request)
{
    if (m_request && m_request != request)
        m_request->disconnect(this);
    m_request = request;
    auto progress = [this] {
        if (m_request)
            onDownloadProgress(m_request->receivedBytes(), m_request->totalBytes());
    };
    connect(request, &QWebEngineDownloadRequest::receivedBytesChanged, this, progress);
    connect(request, &QWebEngineDownloadRequest::totalBytesChanged, this, progress);
    connect(request, &QWebEngineDownloadRequest::isFinishedChanged, this, [this] {
        if (m_request && m_request->isFinished())
            onFinished();
    });
    m_bytesReceived = request->receivedBytes();
    m_bytesTotal = request->totalBytes();
}

bool DownloadItem::takeOver(QWebEngineDownloadRequest *request)
{
    if (!request || !m_request || m_finished || m_request == request || m_request->id() != request->id())
        return false;
    watch(request);
    emit progressChanged();
    return true;
}

DownloadItem::DownloadItem(const QUrl &url, const QString &filename, QObject *parent)
    : QObject(parent)
    , m_url(url)
    , m_filename(filename.isEmpty() ? url.fileName(QUrl::FullyDecoded) : filename)
    , m_startTime(QDateTime::currentMSecsSinceEpoch())
{
    m_sampleTime = m_startTime;
}

double DownloadItem::progress() const
{
    if (m_bytesTotal <= 0)
        return 0.0;
    return double(m_bytesReceived) / double(m_bytesTotal);
}

void DownloadItem::pause()
{
    if (!m_request || m_finished)
        return;
    m_request->pause();
    m_paused = true;
}

void DownloadItem::resume()
{
    if (!m_request || !m_paused)
        return;
    m_request->resume();
    m_paused = false;
}

void DownloadItem::cancel()
{
    // A download that already ended keeps its result: cancelling a completed
    // file must not relabel it.
    if (!m_request || m_finished)
        return;
    m_request->cancel();
    m_finished = true;
    m_endState = EndState::Cancelled;
}

DownloadItem::SpeedSample DownloadItem::nextSpeed(qint64 received, qint64 now, qint64 startTime,
                                                  qint64 sampleTime, qint64 sampleBytes, qint64 speed)
{
    SpeedSample s{speed, sampleBytes, sampleTime};
    const qint64 elapsed = now - sampleTime;
    if (elapsed >= 1000) {
        s.speed = (received - sampleBytes) * 1000 / elapsed;
        s.sampleBytes = received;
        s.sampleTime = now;
    }
    if (s.speed == 0 && elapsed > 0) {
        const qint64 sinceStart = now - startTime + 1;
        s.speed = received * 1000 / (sinceStart > 0 ? sinceStart : 1);
    }
    return s;
}

void DownloadItem::onDownloadProgress(qint64 received, qint64 total)
{
    const SpeedSample s = nextSpeed(received, QDateTime::currentMSecsSinceEpoch(), m_startTime,
                                    m_sampleTime, m_sampleBytes, m_speed);
    m_speed = s.speed;
    m_sampleBytes = s.sampleBytes;
    m_sampleTime = s.sampleTime;
    m_bytesReceived = received;
    m_bytesTotal = total;
    emit progressChanged();
}

void DownloadItem::onFinished()
{
    m_finished = true;
    m_paused = false;
    bool interrupted = false;
    if (m_request) {
        m_bytesReceived = m_request->receivedBytes();
        m_bytesTotal = m_request->totalBytes();
        switch (m_request->state()) {
        case QWebEngineDownloadRequest::DownloadCompleted:
            m_endState = EndState::Completed;
            break;
        case QWebEngineDownloadRequest::DownloadCancelled:
            m_endState = EndState::Cancelled;
            break;
        case QWebEngineDownloadRequest::DownloadInterrupted:
            m_endState = EndState::Failed;
            interrupted = true;
            break;
        default:
            break;
        }
    } else {
        m_endState = EndState::Completed;
    }
    emit finished();
    // The end is recorded first (like any end); the failure is then reported
    // on its own channel so listeners can tell it from a completion.
    if (interrupted)
        onFailed();
}

void DownloadItem::onFailed()
{
    m_finished = true;
    if (m_endState == EndState::Running)
        m_endState = EndState::Failed;
    emit failed(QStringLiteral("Download failed"));
}
