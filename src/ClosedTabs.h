#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

// The most recently closed tabs, newest last, for reopening. With a file path
// they are kept in that file (0600: a page's saved state can hold what was
// typed into it) so they outlive a restart; without one, in memory only.
class ClosedTabs : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxEntries = 10;
    // A page state larger than this is dropped; the address is still kept.
    static constexpr int MaxHistoryBytes = 512 * 1024;

    struct Entry {
        QString url;
        QString title;
        bool pinned = false;
        int index = -1;      // position in the tab strip when closed
        QByteArray history;  // the page's back/forward list, as the engine saves it
    };

    explicit ClosedTabs(const QString &filePath = QString(), QObject *parent = nullptr);

    void push(const Entry &entry);
    std::optional<Entry> takeNewest();
    int count() const { return int(m_entries.size()); }
    QList<Entry> entries() const { return m_entries; }
    // False when the file could not be rewritten.
    bool clear();
    QString filePath() const { return m_path; }

    // Records from the file; anything malformed is skipped.
    static QList<Entry> fromJson(const QJsonArray &records);
    static QJsonArray toJson(const QList<Entry> &entries);

private:
    bool save();

    QString m_path;
    QList<Entry> m_entries;
};
