#include "MemoryTrimmer.h"

#include <QCoreApplication>

#ifdef __GLIBC__
#include <malloc.h>
#endif

MemoryTrimmer::MemoryTrimmer(int quietMs, int intervalMs, QObject *parent)
    : QObject(parent)
    , m_quietTime(quietMs)
    , m_interval(intervalMs)
{
    m_quiet.setSingleShot(true);
    connect(&m_quiet, &QTimer::timeout, this, &MemoryTrimmer::trim);
    m_pool.setMaxThreadCount(1);
}

MemoryTrimmer::~MemoryTrimmer()
{
    // The worker reports back to this object.
    m_pool.waitForDone();
}

MemoryTrimmer *MemoryTrimmer::instance()
{
    static MemoryTrimmer *shared = new MemoryTrimmer(1000, 2000, QCoreApplication::instance());
    return shared;
}

void MemoryTrimmer::schedule()
{
    m_quiet.start(m_quietTime);
}

void MemoryTrimmer::trim()
{
    // Calls while a trim runs are served by it.
    if (m_running)
        return;
    if (m_sinceLast.isValid() && m_sinceLast.elapsed() < m_interval) {
        m_quiet.start(int(m_interval - m_sinceLast.elapsed()));
        return;
    }
    m_running = true;
    m_sinceLast.start();
    m_pool.start([this] {
        bool released = false;
#ifdef __GLIBC__
        released = malloc_trim(0) != 0;
#endif
        QMetaObject::invokeMethod(this, [this, released] {
            m_running = false;
            ++m_count;
            Q_EMIT trimmed(released);
        }, Qt::QueuedConnection);
    });
}
