#pragma once

#include "FilterEngine.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWebEngineScript>

#include <memory>

class QWebEnginePage;

// Element hiding for one page: the style sheet the filter lists give the
// page's site, put into every new document of the page before its first
// paint (a script at document creation, in every frame, in a world of its
// own). The script is rewritten when a navigation starts
// (navigationAccepted), so that the new document finds its site's sheet;
// frames of other sites with rules of their own get theirs, all others the
// generic sheet. The live document's sheet is brought up to date when the
// page's address changes without a new document (history.pushState, a
// fragment) or new lists arrive. Nothing is hidden on a site where the user
// switched protection off, or while ad blocking is off.
class ElementHiding : public QObject
{
    Q_OBJECT
public:
    static QString scriptName() { return QStringLiteral("orvex-element-hiding"); }

    explicit ElementHiding(QWebEnginePage *page, QObject *parent = nullptr);
    ~ElementHiding() override;

    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    // A navigation of the page (isMainFrame) or of one of its frames is about to start.
    void navigationAccepted(const QUrl &url, bool isMainFrame);

    // What the page is given for an address, under the active filters:
    // nothing for other than web addresses and for unprotected sites.
    static FilterEngine::Hiding hidingFor(const FilterEngine *engine, const QUrl &url, const QUrl &pageUrl);
    // The script for a page: the generic sheet, the entries of the hosts
    // seen, and the fallback for the others.
    static QString scriptSource(const QString &genericSheet, const QHash<QString, FilterEngine::Hiding> &hosts,
                                const FilterEngine::Hiding &fallback, const QString &pageHost);

    // The script the page has now (empty when none).
    QString currentSource() const { return m_installed ? m_script.sourceCode() : QString(); }

private:
    void onUrlChanged(const QUrl &url);
    void recompute();
    // reinsert: replace the script even when unchanged.
    void install(bool updateLiveDocument, bool reinsert);
    QString genericLiteral() const;

    QPointer<QWebEnginePage> m_page;
    bool m_enabled = true;
    std::shared_ptr<const FilterEngine> m_engine;
    QUrl m_pageUrl;
    QString m_pageHost;
    QString m_committedHost; // of the page's document
    bool m_changedSinceCommit = false;
    QHash<QString, FilterEngine::Hiding> m_hosts;
    FilterEngine::Hiding m_fallback;
    QWebEngineScript m_script;
    bool m_installed = false;
};
