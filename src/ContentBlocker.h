#pragma once

#include "FilterEngine.h"

#include <QObject>

#include <memory>

class FilterEngineLoader;
class FilterListManager;
class SiteProtection;

// The browser's content blocking, one per run (the main window owns it;
// private windows share it): the filter list subscriptions, the compiled
// engine built from them on a worker thread and published to ActiveFilters
// whenever the lists change, and the per-site protection switch. Until the
// first engine is ready the built-in host lists block on their own.
class ContentBlocker : public QObject
{
    Q_OBJECT
public:
    // dataFolder: the browser's data folder when empty; cacheFolder: the
    // user's cache folder when empty (the compiled lists).
    explicit ContentBlocker(const QString &dataFolder = QString(), const QString &cacheFolder = QString(),
                            QObject *parent = nullptr);
    ~ContentBlocker() override;

    FilterListManager *lists() const { return m_lists; }
    SiteProtection *siteProtection() const { return m_sites; }
    FilterEngineLoader *loader() const { return m_loader; }
    // Null until the first engine is ready.
    std::shared_ptr<const FilterEngine> engine() const;

public Q_SLOTS:
    // Lists are downloaded only while a tunnel is up.
    void setTunnelUp(bool up);
    // Rebuilds the engine from the lists as they are now.
    void reload();

Q_SIGNALS:
    // fromCache: read from the compiled cache rather than parsed.
    void engineReady(bool fromCache, qint64 elapsedMs);

private:
    FilterListManager *m_lists = nullptr;
    FilterEngineLoader *m_loader = nullptr;
    SiteProtection *m_sites = nullptr;
};
