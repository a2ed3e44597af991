#include "ActiveFilters.h"

#include <atomic>

namespace {
// std::atomic_load/store on shared_ptr: a reader copies the pointer it got
// and keeps that snapshot alive for as long as it uses it.
std::shared_ptr<const FilterEngine> currentEngine;
std::shared_ptr<const QSet<QString>> currentSites;
std::atomic<quint64> currentGeneration{1};
}

ActiveFilters *ActiveFilters::instance()
{
    static ActiveFilters *const filters = new ActiveFilters;
    return filters;
}

std::shared_ptr<const FilterEngine> ActiveFilters::engine()
{
    return std::atomic_load(&currentEngine);
}

void ActiveFilters::setEngine(std::shared_ptr<const FilterEngine> engine)
{
    std::atomic_store(&currentEngine, std::move(engine));
    currentGeneration.fetch_add(1, std::memory_order_release);
    Q_EMIT instance()->engineChanged();
}

quint64 ActiveFilters::generation()
{
    return currentGeneration.load(std::memory_order_acquire);
}

bool ActiveFilters::isUnprotected(const QString &site)
{
    if (site.isEmpty())
        return false;
    const std::shared_ptr<const QSet<QString>> sites = std::atomic_load(&currentSites);
    return sites && sites->contains(site);
}

QSet<QString> ActiveFilters::unprotectedSites()
{
    const std::shared_ptr<const QSet<QString>> sites = std::atomic_load(&currentSites);
    return sites ? *sites : QSet<QString>();
}

void ActiveFilters::setUnprotectedSites(const QSet<QString> &sites)
{
    std::atomic_store(&currentSites, std::make_shared<const QSet<QString>>(sites));
    currentGeneration.fetch_add(1, std::memory_order_release);
    Q_EMIT instance()->unprotectedSitesChanged();
}
