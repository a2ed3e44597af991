#include "DownloadManager.h"

#include "DownloadItem.h"
#include "StoreFile.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QWebEngineDownloadRequest>

DownloadManager::DownloadManager(QObject *parent, const QString &dataFolder)
    : QObject(parent)
    , m_defaultDownloadPath(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation))
    , m_dataFolder(dataFolder)
{
    loadHistory();
}

DownloadItem *DownloadManager::downloadAt(int index) const
{
    if (index < 0 || index >= m_downloads.size())
        return nullptr;
    return m_downloads.at(index);
}

void DownloadManager::addDownload(QWebEngineDownloadRequest *request, bool offTheRecord)
{
    if (!request)
        return;
    for (DownloadItem *known : std::as_const(m_downloads)) {
        if (known->takeOver(request)) {
            request->accept();
            return;
        }
    }
    auto *item = new DownloadItem(request, this);
    item->setProperty("orvexOffTheRecord", offTheRecord);
    // The engine's proposal (directory and file name) is taken as it is.
    request->accept();
    track(item);
}

void DownloadManager::addDownload(const QUrl &url, const QString &filename)
{
    track(new DownloadItem(url, filename, this));
}

void DownloadManager::track(DownloadItem *item)
{
    m_downloads.append(item);
    connect(item, &DownloadItem::finished, this, &DownloadManager::onDownloadFinished);
    connect(item, &DownloadItem::failed, this, &DownloadManager::onDownloadFailed);
    emit downloadAdded(item);
}

QJsonArray DownloadManager::getDownloadHistory() const
{
    QJsonArray all = m_offTheRecordHistory;
    for (const QJsonValue &record : m_history)
        all.append(record);
    return all;
}

QStringList DownloadManager::clearHistory()
{
    m_history = QJsonArray();
    m_offTheRecordHistory = QJsonArray();
    // Ended downloads of this run are history too; running ones stay listed.
    m_downloads.removeIf([](const DownloadItem *item) { return item->isFinished(); });
    QStringList failed;
    if (!StoreFile::writeJson(getHistoryPath(), QJsonDocument(m_history)))
        failed << getHistoryPath();
    return failed + StoreFile::removeDamagedCopies(getHistoryPath());
}

QString DownloadManager::getHistoryPath() const
{
    const QString folder = m_dataFolder.isEmpty()
        ? QStandardPaths::writableLocation(QStandardPaths::ConfigLocation) + QStringLiteral("/orvexbrowser")
        : m_dataFolder;
    return folder + QStringLiteral("/downloads.json");
}

QJsonArray DownloadManager::prependCapped(const QJsonArray &history, const QJsonObject &record, int cap)
{
    QJsonArray out;
    out.append(record);
    for (qsizetype i = 0; i < history.size() && out.size() < cap; ++i)
        out.append(history.at(i));
    return out;
}

void DownloadManager::onDownloadFinished()
{
    auto *item = qobject_cast<DownloadItem *>(sender());
    if (!item)
        return;
    QJsonObject record;
    record.insert(QStringLiteral("url"), item->url().toString());
    record.insert(QStringLiteral("filename"), item->filename());
    record.insert(QStringLiteral("path"), item->path());
    record.insert(QStringLiteral("finished"), QDateTime::currentDateTime().toString(Qt::ISODate));
    record.insert(QStringLiteral("size"), QJsonValue(item->bytesTotal()));
    if (item->property("orvexOffTheRecord").toBool()) {
        m_offTheRecordHistory = prependCapped(m_offTheRecordHistory, record);
    } else {
        m_history = prependCapped(m_history, record);
        saveHistory();
    }
    emit downloadFinished(item);
}

void DownloadManager::onDownloadFailed()
{
    auto *item = qobject_cast<DownloadItem *>(sender());
    if (!item)
        return;
    emit downloadFailed(item, QStringLiteral("Download failed"));
}

void DownloadManager::loadHistory()
{
    m_history = StoreFile::readJson(getHistoryPath(), StoreFile::JsonType::Array).array();
}

void DownloadManager::saveHistory()
{
    StoreFile::writeJson(getHistoryPath(), QJsonDocument(m_history));
}
