#include "FilterEngineLoader.h"

#include "StoreFile.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QStandardPaths>
#include <QtEndian>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {
// Bigger files are no filter list (and no cache of one).
constexpr qint64 MaxFileSize = 256 * 1024 * 1024;

// Loading the lists is background work: at start-up it would take its
// share of the cores from the window and the first pages, and until it
// ends the built-in lists block. A nice thread still runs on a busy machine.
void inBackground()
{
#ifdef Q_OS_LINUX
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
#endif
}

// read(limit) reserves the whole limit before it reads: 256 MiB of address
// space for each list on every start.
QByteArray readFile(const QString &path, qint64 limit)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = f.size();
    return size > 0 && size <= limit ? f.read(size) : f.read(limit);
}
}

FilterEngineLoader::FilterEngineLoader(const QString &cacheFolder, QObject *parent)
    : QObject(parent)
    , m_cacheFolder(cacheFolder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::CacheLocation)
                                          : cacheFolder)
{
    qRegisterMetaType<std::shared_ptr<const FilterEngine>>();
    m_pool.setMaxThreadCount(1);
}

FilterEngineLoader::~FilterEngineLoader()
{
    // Workers call back into this object; none may outlive it.
    m_pool.waitForDone();
}

QString FilterEngineLoader::cacheFile() const
{
    return m_cacheFolder + QStringLiteral("/filterengine.bin");
}

void FilterEngineLoader::waitForIdle()
{
    m_pool.waitForDone();
}

void FilterEngineLoader::load(const QList<Input> &inputs)
{
    const quint64 generation = ++m_generation;
    const QString cache = cacheFile();
    m_pool.start([this, inputs, cache, generation] {
        if (generation != m_generation)
            return; // a newer load is queued behind this one
        inBackground();
        QElapsedTimer timer;
        timer.start();
        bool fromCache = false;
        std::shared_ptr<const FilterEngine> engine = loadOrBuild(inputs, cache, &fromCache);
        const qint64 elapsed = timer.elapsed();
        QMetaObject::invokeMethod(this, [this, engine, fromCache, elapsed, generation] {
            if (generation != m_generation)
                return;
            m_engine = engine;
            Q_EMIT engineReady(engine, fromCache, elapsed);
        }, Qt::QueuedConnection);
    });
}

QByteArray FilterEngineLoader::sourceKey(const QList<FilterEngine::Source> &sources)
{
    // Two chained checksums of every list's name, size and text: any change
    // to a list gives another key.
    quint64 lanes[2] = {FilterEngine::FormatVersion, ~quint64(FilterEngine::FormatVersion)};
    for (const FilterEngine::Source &s : sources) {
        const QByteArray name = s.name.toUtf8();
        const QByteArray head = QByteArray::number(name.size()) + ':' + name + ':' + QByteArray::number(s.text.size());
        for (quint64 &lane : lanes)
            lane = FilterEngine::checksum(s.text, FilterEngine::checksum(head, lane));
    }
    QByteArray key(16, Qt::Uninitialized);
    qToLittleEndian(lanes[0], key.data());
    qToLittleEndian(lanes[1], key.data() + 8);
    return key;
}

std::shared_ptr<const FilterEngine> FilterEngineLoader::loadOrBuild(const QList<Input> &inputs,
                                                                    const QString &cacheFile, bool *fromCache)
{
    QList<FilterEngine::Source> sources;
    for (const Input &in : inputs)
        sources.append({in.name, in.text.isEmpty() && !in.path.isEmpty() ? readFile(in.path, MaxFileSize) : in.text});
    const QByteArray key = sourceKey(sources);
    if (fromCache)
        *fromCache = false;
    if (!cacheFile.isEmpty()) {
        if (std::shared_ptr<const FilterEngine> cached = FilterEngine::fromFile(cacheFile, key)) {
            if (fromCache)
                *fromCache = true;
            return cached;
        }
    }
    std::shared_ptr<const FilterEngine> engine = FilterEngine::build(sources);
    if (cacheFile.isEmpty())
        return engine;
    if (!StoreFile::write(cacheFile, engine->toBytes(key))) {
        qWarning() << "FilterEngineLoader: could not write the cache" << cacheFile;
        return engine;
    }
    // Decide from the file's pages, as the next start will. The compiled
    // copy's pages go back to the system with the browser's next trim
    // (MemoryTrimmer), which new lists schedule.
    if (std::shared_ptr<const FilterEngine> mapped = FilterEngine::fromFile(cacheFile, key))
        engine = mapped;
    return engine;
}
