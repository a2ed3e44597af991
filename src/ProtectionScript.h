#pragma once

#include "FilterEngine.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWebEngineScript>

#include <memory>

class QWebEnginePage;
class QWebEngineProfile;

// The one script a tab's page runs at document creation: the page scripts
// that are on (ad, tracking, fingerprint and cookie protection, in that
// order) and the element hiding the filter lists give the page's site, as
// one script, so each document starts one. The lists' generic hiding data,
// the same for every page, is the profile's own script (installGeneric()).
//
// The element hiding part depends on the site, so the script is rewritten
// when a navigation starts (navigationAccepted, also called before the tab
// loads an address), in time for the new document. A move to another site
// can start from the old site's script (the engine prepares that renderer
// as the navigation begins), so after such a move the script goes in again
// and the live document gets its site's hiding data. The same happens when
// the page's address changes without a new document (history.pushState, a
// fragment: $elemhide and $generichide exceptions name addresses), when new
// lists arrive, and when the user switches a site off or on. Nothing is
// hidden on a site where protection is off, or while hiding is off.
class ProtectionScript : public QObject
{
    Q_OBJECT
public:
    static QString scriptName() { return QStringLiteral("orvex-page-protection"); }
    static QString genericScriptName() { return QStringLiteral("orvex-generic-hiding"); }

    explicit ProtectionScript(QWebEnginePage *page, QObject *parent = nullptr);
    ~ProtectionScript() override;

    // The page scripts that are on, already filled in (they run first).
    void setPageScripts(const QString &source);
    void setHidingEnabled(bool enabled);
    bool isHidingEnabled() const { return m_hidingEnabled; }

    // A navigation of the page (main frame) is about to start.
    void navigationAccepted(const QUrl &url);

    // What the lists hide on a page of that address: nothing for other than
    // web addresses and for sites with protection off.
    static FilterEngine::Hiding hidingFor(const FilterEngine *engine, const QUrl &url);
    // The element hiding part for an address (empty without an engine);
    // revision names this version of it.
    static QString hidingSource(const FilterEngine *engine, const QUrl &url, int revision = 0);

    // The lists' generic hiding data as a script, the same for every page;
    // installGeneric() puts the active engine's into a profile's scripts
    // (replacing an older one), where every page of the profile finds it.
    static QString genericSource(const std::shared_ptr<const FilterEngine> &engine);
    static void installGeneric(QWebEngineProfile *profile);

    // The script the page has now (empty when none).
    QString currentSource() const { return m_installed ? m_script.sourceCode() : QString(); }

private:
    void onUrlChanged(const QUrl &url);
    void refresh();
    // reinsert: replace the script even when unchanged; live: bring the
    // live document's hiding up to date.
    void install(bool reinsert, bool live);
    void rebuildHiding();
    // After a move to another site: the live document is asked which
    // version of the hiding it runs; only a stale one (its renderer was
    // prepared with the old site's script) gets the script again.
    void checkLiveDocument();

    QPointer<QWebEnginePage> m_page;
    bool m_hidingEnabled = true;
    QString m_pageScripts;
    std::shared_ptr<const FilterEngine> m_engine;
    QUrl m_pageUrl;
    QString m_hiding; // the element hiding part for m_pageUrl
    int m_revision = 0; // of m_hiding
    QString m_committedHost;
    bool m_changedSinceCommit = false;
    QWebEngineScript m_script;
    bool m_installed = false;
};
