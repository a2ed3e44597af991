#include "ClosedTabs.h"

#include "StoreFile.h"

#include <QJsonObject>

ClosedTabs::ClosedTabs(const QString &filePath, QObject *parent)
    : QObject(parent)
    , m_path(filePath)
{
    if (!m_path.isEmpty())
        m_entries = fromJson(StoreFile::readJson(m_path, StoreFile::JsonType::Array).array());
}

void ClosedTabs::push(const Entry &entry)
{
    if (entry.url.isEmpty())
        return;
    Entry kept = entry;
    if (kept.history.size() > MaxHistoryBytes)
        kept.history.clear();
    m_entries.append(kept);
    while (m_entries.size() > MaxEntries)
        m_entries.removeFirst();
    save();
}

std::optional<ClosedTabs::Entry> ClosedTabs::takeNewest()
{
    if (m_entries.isEmpty())
        return std::nullopt;
    const Entry entry = m_entries.takeLast();
    save();
    return entry;
}

bool ClosedTabs::clear()
{
    m_entries.clear();
    return save();
}

bool ClosedTabs::save()
{
    return m_path.isEmpty()
        || StoreFile::writeJson(m_path, QJsonDocument(toJson(m_entries)), StoreFile::Access::Secret);
}

QList<ClosedTabs::Entry> ClosedTabs::fromJson(const QJsonArray &records)
{
    QList<Entry> entries;
    for (const QJsonValue &value : records) {
        const QJsonObject record = value.toObject();
        Entry entry;
        entry.url = record.value(QLatin1String("url")).toString();
        if (entry.url.isEmpty())
            continue;
        entry.title = record.value(QLatin1String("title")).toString();
        entry.pinned = record.value(QLatin1String("pinned")).toBool();
        entry.index = record.value(QLatin1String("index")).toInt(-1);
        const QByteArray history = record.value(QLatin1String("history")).toString().toLatin1();
        if (history.size() <= MaxHistoryBytes * 4 / 3 + 4)
            entry.history = QByteArray::fromBase64(history);
        entries.append(entry);
    }
    while (entries.size() > MaxEntries)
        entries.removeFirst();
    return entries;
}

QJsonArray ClosedTabs::toJson(const QList<Entry> &entries)
{
    QJsonArray records;
    for (const Entry &entry : entries) {
        QJsonObject record{{QStringLiteral("url"), entry.url},
                           {QStringLiteral("title"), entry.title},
                           {QStringLiteral("pinned"), entry.pinned},
                           {QStringLiteral("index"), entry.index}};
        if (!entry.history.isEmpty())
            record.insert(QStringLiteral("history"), QString::fromLatin1(entry.history.toBase64()));
        records.append(record);
    }
    return records;
}
