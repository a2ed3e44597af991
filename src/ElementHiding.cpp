#include "ElementHiding.h"

#include "ActiveFilters.h"
#include "PageScript.h"
#include "PublicSuffix.h"

#include <QWebEnginePage>
#include <QWebEngineScriptCollection>

namespace {
bool isWeb(const QUrl &url)
{
    const QString scheme = url.scheme();
    return (scheme == QLatin1String("https") || scheme == QLatin1String("http")) && !url.host().isEmpty();
}

QString entryLiteral(const FilterEngine::Hiding &hiding)
{
    return QLatin1Char('[') + PageScript::boolean(hiding.generic) + QStringLiteral(", ") + PageScript::string(hiding.extra)
        + QLatin1Char(']');
}

QString sourceWith(const QString &genericLiteral, const QHash<QString, FilterEngine::Hiding> &hosts,
                   const FilterEngine::Hiding &fallback, const QString &pageHost)
{
    QStringList entries;
    for (auto it = hosts.cbegin(); it != hosts.cend(); ++it)
        entries.append(PageScript::string(it.key()) + QStringLiteral(": ") + entryLiteral(*it));
    entries.sort(); // the same hosts give the same text: no needless rewrite
    return PageScript::fill(QStringLiteral("elementhiding.js"),
                            {{QStringLiteral("GENERIC"), genericLiteral},
                             {QStringLiteral("HOSTS"), QLatin1Char('{') + entries.join(QStringLiteral(", ")) + QLatin1Char('}')},
                             {QStringLiteral("FALLBACK"), entryLiteral(fallback)},
                             {QStringLiteral("PAGE_HOST"), PageScript::string(pageHost)}});
}
}

ElementHiding::ElementHiding(QWebEnginePage *page, QObject *parent)
    : QObject(parent)
    , m_page(page)
{
    m_script.setName(scriptName());
    m_script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    m_script.setWorldId(QWebEngineScript::ApplicationWorld);
    m_script.setRunsOnSubFrames(true);
    m_engine = ActiveFilters::engine();
    if (page) {
        m_pageUrl = page->url();
        connect(page, &QWebEnginePage::urlChanged, this, &ElementHiding::onUrlChanged);
    }
    // New lists reach the open page too (on the first start they arrive
    // after it has loaded); a site switched off loses its sheet.
    const auto refresh = [this] {
        m_engine = ActiveFilters::engine();
        m_hosts.clear();
        recompute();
        install(true, false);
    };
    connect(ActiveFilters::instance(), &ActiveFilters::engineChanged, this, refresh);
    connect(ActiveFilters::instance(), &ActiveFilters::unprotectedSitesChanged, this, refresh);
    recompute();
    install(false, false);
}

ElementHiding::~ElementHiding()
{
    if (m_page && m_installed)
        m_page->scripts().remove(m_script);
}

void ElementHiding::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    install(false, false);
}

FilterEngine::Hiding ElementHiding::hidingFor(const FilterEngine *engine, const QUrl &url, const QUrl &pageUrl)
{
    if (!engine || !isWeb(url) || ActiveFilters::isUnprotected(PublicSuffix::site(pageUrl)))
        return {};
    return engine->hiding(engine->page(url));
}

QString ElementHiding::scriptSource(const QString &genericSheet, const QHash<QString, FilterEngine::Hiding> &hosts,
                                    const FilterEngine::Hiding &fallback, const QString &pageHost)
{
    return sourceWith(PageScript::string(genericSheet), hosts, fallback, pageHost);
}

QString ElementHiding::genericLiteral() const
{
    // Escaped once per engine: the sheet is large and every tab's script holds it.
    static std::weak_ptr<const FilterEngine> escapedFor;
    static QString literal;
    if (!m_engine)
        return PageScript::string(QString());
    if (escapedFor.lock() != m_engine) {
        literal = PageScript::string(m_engine->genericStyleSheet());
        escapedFor = m_engine;
    }
    return literal;
}

void ElementHiding::recompute()
{
    m_pageHost = m_pageUrl.host(QUrl::FullyDecoded).toLower();
    const FilterEngine *engine = m_engine.get();
    m_hosts.insert(m_pageHost, hidingFor(engine, m_pageUrl, m_pageUrl));
    // Frames of other sites: the generic sheet, unless the site is off.
    m_fallback = {};
    if (engine && isWeb(m_pageUrl) && !ActiveFilters::isUnprotected(PublicSuffix::site(m_pageUrl)))
        m_fallback.generic = !engine->genericStyleSheet().isEmpty();
}

void ElementHiding::navigationAccepted(const QUrl &url, bool isMainFrame)
{
    if (isMainFrame) {
        m_pageUrl = url;
        m_hosts.clear();
        recompute();
    } else if (isWeb(url)) {
        const QString host = url.host(QUrl::FullyDecoded).toLower();
        const FilterEngine::Hiding hiding = hidingFor(m_engine.get(), url, m_pageUrl);
        // Frames that get what any other frame gets need no entry.
        if (hiding == m_fallback && !m_hosts.contains(host))
            return;
        m_hosts.insert(host, hiding);
    }
    install(false, false);
}

void ElementHiding::onUrlChanged(const QUrl &url)
{
    const QString host = url.host(QUrl::FullyDecoded).toLower();
    const bool newHost = host != m_committedHost;
    m_committedHost = host;
    const FilterEngine::Hiding before = m_hosts.value(m_pageHost);
    if (url != m_pageUrl) {
        if (host != m_pageHost)
            m_hosts.clear(); // a navigation we did not see start (a restored history)
        m_pageUrl = url;
        recompute();
    }
    // The engine hands a navigation to another site to a frame it made as
    // the navigation began, with the scripts the page had then; changes
    // made since reach the frames of the page as it is now. So after a move
    // to another site the script goes in again, and the new document's
    // sheet is checked: it may have started from the old site's script.
    // Same document, other address: $elemhide and $generichide exceptions
    // name addresses, not only hosts.
    const bool stale = newHost || m_changedSinceCommit;
    install(stale || m_hosts.value(m_pageHost) != before, stale);
    m_changedSinceCommit = false;
}

void ElementHiding::install(bool updateLiveDocument, bool reinsert)
{
    if (!m_page)
        return;
    QWebEngineScriptCollection &scripts = m_page->scripts();
    const bool wanted = m_enabled && m_engine;
    const QString source = wanted ? sourceWith(genericLiteral(), m_hosts, m_fallback, m_pageHost) : QString();
    if (m_installed && (!wanted || reinsert || source != m_script.sourceCode())) {
        scripts.remove(m_script);
        m_installed = false;
        m_changedSinceCommit = true;
    }
    if (wanted && !m_installed) {
        m_script.setSourceCode(source);
        scripts.insert(m_script);
        m_installed = true;
    }
    if (!updateLiveDocument || !wanted || !isWeb(m_pageUrl))
        return;
    // The live document's script is asked to change its sheet; a document
    // that ran none gets the whole script.
    const FilterEngine::Hiding hiding = m_hosts.value(m_pageHost);
    const QString update = QStringLiteral("(function () { const apply = window[Symbol.for('orvex.elementHiding')];"
                                          " if (!apply) return false; apply(%1, %2); return true; })()")
                               .arg(PageScript::boolean(hiding.generic), PageScript::string(hiding.extra));
    QPointer<QWebEnginePage> page = m_page;
    m_page->runJavaScript(update, QWebEngineScript::ApplicationWorld, [page, source](const QVariant &applied) {
        if (page && !applied.toBool())
            page->runJavaScript(source, QWebEngineScript::ApplicationWorld);
    });
}
