#include "ContentBlocker.h"

#include "ActiveFilters.h"
#include "FilterEngineLoader.h"
#include "FilterListManager.h"
#include "SiteProtection.h"

ContentBlocker::ContentBlocker(const QString &dataFolder, const QString &cacheFolder, QObject *parent)
    : QObject(parent)
    , m_lists(new FilterListManager(dataFolder, this, FilterListManager::Counting::FromEngine))
    , m_loader(new FilterEngineLoader(cacheFolder, this))
    , m_sites(new SiteProtection(dataFolder, this))
{
    connect(m_loader, &FilterEngineLoader::engineReady, this,
            [this](std::shared_ptr<const FilterEngine> engine, bool fromCache, qint64 elapsedMs) {
                m_lists->noteRuleCounts(engine->stats());
                ActiveFilters::setEngine(std::move(engine));
                Q_EMIT engineReady(fromCache, elapsedMs);
            });
    connect(m_lists, &FilterListManager::sourcesChanged, this, &ContentBlocker::reload);
    reload();
}

ContentBlocker::~ContentBlocker()
{
    // The loader's worker must not hand an engine to a dead blocker.
    m_loader->waitForIdle();
}

std::shared_ptr<const FilterEngine> ContentBlocker::engine() const
{
    return m_loader->engine();
}

void ContentBlocker::setTunnelUp(bool up)
{
    m_lists->setTunnelUp(up);
}

void ContentBlocker::reload()
{
    m_loader->load(m_lists->inputs());
}
