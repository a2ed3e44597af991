#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

// Gives the C library's free heap pages back to the system once the browser
// has been quiet for a moment after pages finished loading or tabs closed.
// A page load frees most of what it took in the browser process (script
// texts on their way to the renderer, network and IPC buffers), and glibc
// keeps freed pages that lie below live ones: about 9 MB after ten tabs.
// The trim runs on a worker thread (a few milliseconds for a fragmented
// 60 MB heap), at most once per interval; the browser shares one trimmer
// (instance()).
class MemoryTrimmer : public QObject
{
    Q_OBJECT
public:
    explicit MemoryTrimmer(int quietMs = 1000, int intervalMs = 2000, QObject *parent = nullptr);
    ~MemoryTrimmer() override;

    static MemoryTrimmer *instance();

    // Trims after quietMs without another call, and no sooner than
    // intervalMs after the last trim.
    void schedule();
    int trimCount() const { return m_count; }

Q_SIGNALS:
    // released: whether the C library gave pages back.
    void trimmed(bool released);

private:
    void trim();

    QTimer m_quiet;
    int m_quietTime;
    int m_interval;
    QElapsedTimer m_sinceLast;
    QThreadPool m_pool;
    bool m_running = false;
    int m_count = 0;
};
