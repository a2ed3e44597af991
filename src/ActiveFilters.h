#pragma once

#include "FilterEngine.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <memory>

// What the browser blocks now, for every tab, popup and private window of the
// process: the compiled filter lists, and the sites where the user switched
// protection off. Like the VPN gate it is process-wide; the content blocker
// of the main window keeps it up to date.
//
// Both are immutable snapshots swapped as a whole, so a request decided on
// any thread sees one consistent state. Until the first engine is set
// (first start, cache rebuild) engine() is null and the built-in host lists
// block on their own.
class ActiveFilters : public QObject
{
    Q_OBJECT
public:
    static ActiveFilters *instance();

    static std::shared_ptr<const FilterEngine> engine();
    static void setEngine(std::shared_ptr<const FilterEngine> engine);
    // Changes with every setEngine and setUnprotectedSites: a reader that
    // caches what it worked out from the snapshots compares this first.
    static quint64 generation();

    // site: a registrable domain as PublicSuffix::site() gives it.
    static bool isUnprotected(const QString &site);
    static QSet<QString> unprotectedSites();
    static void setUnprotectedSites(const QSet<QString> &sites);

Q_SIGNALS:
    // Emitted on the thread that made the change (the GUI thread).
    void engineChanged();
    void unprotectedSitesChanged();

private:
    ActiveFilters() = default;
};
