#pragma once

#include "FilterEngine.h"

#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <memory>

// Brings a FilterEngine up without blocking the GUI thread: a worker reads
// the lists, takes the compiled form from the cache folder when it was built
// from exactly these lists (same texts, same format version), and otherwise
// parses them and rewrites the cache. The finished engine is handed back on
// the loader's thread through engineReady(); until then callers keep what
// they had (the built-in host lists).
class FilterEngineLoader : public QObject
{
    Q_OBJECT
public:
    // One list: read from path when text is empty.
    struct Input {
        QString name;
        QString path;
        QByteArray text;
    };

    // cacheFolder: where "filterengine.bin" lives; empty for the user's
    // cache location (QStandardPaths::CacheLocation).
    explicit FilterEngineLoader(const QString &cacheFolder = QString(), QObject *parent = nullptr);
    ~FilterEngineLoader() override;

    QString cacheFile() const;

    // Starts loading; a later call supersedes an earlier one still running.
    void load(const QList<Input> &inputs);
    // The latest engine handed out (null before the first one).
    std::shared_ptr<const FilterEngine> engine() const { return m_engine; }
    // Blocks until no load is running (tests, shutdown).
    void waitForIdle();

    // What a worker does, callable on any thread: the engine for the inputs,
    // from the cache when it is current, else parsed (and cached).
    static std::shared_ptr<const FilterEngine> loadOrBuild(const QList<Input> &inputs, const QString &cacheFile,
                                                           bool *fromCache = nullptr);
    // Identifies a set of list texts (and the engine's format version).
    static QByteArray sourceKey(const QList<FilterEngine::Source> &sources);

Q_SIGNALS:
    // fromCache: loaded from the compiled cache rather than parsed.
    void engineReady(std::shared_ptr<const FilterEngine> engine, bool fromCache, qint64 elapsedMs);

private:
    QString m_cacheFolder;
    QThreadPool m_pool;
    std::atomic<quint64> m_generation{0};
    std::shared_ptr<const FilterEngine> m_engine;
};

Q_DECLARE_METATYPE(std::shared_ptr<const FilterEngine>)
