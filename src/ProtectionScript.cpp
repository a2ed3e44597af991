#include "ProtectionScript.h"

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

// As location.hostname has it: lower case, IDN in punycode.
QString hostOf(const QUrl &url)
{
    return QString::fromLatin1(QUrl::toAce(url.host(QUrl::FullyDecoded))).toLower();
}

// The engine's shared generic data, escaped once per engine: every tab's
// script holds it.
struct GenericLiterals {
    std::weak_ptr<const FilterEngine> engine;
    QString table;
    QString complex;
};

const GenericLiterals &literalsFor(const std::shared_ptr<const FilterEngine> &engine)
{
    static GenericLiterals cached;
    if (cached.engine.lock() != engine) {
        cached.engine = engine;
        cached.table = PageScript::string(QString::fromLatin1(engine->genericSelectorTable().toBase64()));
        cached.complex = PageScript::string(engine->genericComplexSheet());
    }
    return cached;
}
}

ProtectionScript::ProtectionScript(QWebEnginePage *page, QObject *parent)
    : QObject(parent)
    , m_page(page)
{
    m_script.setName(scriptName());
    m_script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    m_script.setWorldId(QWebEngineScript::MainWorld);
    m_engine = ActiveFilters::engine();
    if (page) {
        m_pageUrl = page->url();
        m_committedHost = hostOf(m_pageUrl);
        connect(page, &QWebEnginePage::urlChanged, this, &ProtectionScript::onUrlChanged);
    }
    // New lists reach the open page too (on the first start they arrive
    // after it has loaded); a site switched off loses its hiding.
    connect(ActiveFilters::instance(), &ActiveFilters::engineChanged, this, &ProtectionScript::refresh);
    connect(ActiveFilters::instance(), &ActiveFilters::unprotectedSitesChanged, this, &ProtectionScript::refresh);
    rebuildHiding();
}

ProtectionScript::~ProtectionScript()
{
    if (m_page && m_installed)
        m_page->scripts().remove(m_script);
}

void ProtectionScript::setPageScripts(const QString &source)
{
    if (source == m_pageScripts)
        return;
    m_pageScripts = source;
    install(false, false);
}

void ProtectionScript::setHidingEnabled(bool enabled)
{
    if (enabled == m_hidingEnabled)
        return;
    m_hidingEnabled = enabled;
    install(false, false);
}

FilterEngine::Hiding ProtectionScript::hidingFor(const FilterEngine *engine, const QUrl &url)
{
    if (!engine || !isWeb(url) || ActiveFilters::isUnprotected(PublicSuffix::site(url)))
        return {};
    return engine->hiding(engine->page(url));
}

QString ProtectionScript::hidingSource(const FilterEngine *engine, const QUrl &url, int revision)
{
    if (!engine)
        return {};
    const std::shared_ptr<const FilterEngine> current = ActiveFilters::engine();
    const FilterEngine::Hiding hiding = hidingFor(engine, url);
    QString table, complex;
    if (hiding.generic && current.get() == engine) {
        const GenericLiterals &literals = literalsFor(current);
        table = literals.table;
        complex = hiding.excluded.isEmpty() ? literals.complex : PageScript::string(engine->genericComplexSheet(hiding.excluded));
    } else if (hiding.generic) {
        table = PageScript::string(QString::fromLatin1(engine->genericSelectorTable().toBase64()));
        complex = PageScript::string(engine->genericComplexSheet(hiding.excluded));
    } else {
        table = complex = PageScript::string(QString());
    }
    QStringList excluded;
    for (const QString &selector : hiding.excluded) {
        if (FilterEngine::isSimpleSelector(selector.toUtf8()))
            excluded.append(selector);
    }
    return PageScript::fill(QStringLiteral("elementhiding.js"),
                            {{QStringLiteral("TABLE"), table},
                             {QStringLiteral("COMPLEX"), complex},
                             {QStringLiteral("GENERIC"), PageScript::boolean(hiding.generic)},
                             {QStringLiteral("EXCLUDED"), PageScript::array(excluded)},
                             {QStringLiteral("EXTRA"), PageScript::string(hiding.extra)},
                             {QStringLiteral("HOST"), PageScript::string(hostOf(url))},
                             {QStringLiteral("REVISION"), QString::number(revision)}});
}

void ProtectionScript::rebuildHiding()
{
    // The revision changes with the text, so a live document can tell.
    const QString before = m_hiding;
    m_hiding = hidingSource(m_engine.get(), m_pageUrl, m_revision);
    if (m_hiding != before)
        m_hiding = hidingSource(m_engine.get(), m_pageUrl, ++m_revision);
}

void ProtectionScript::navigationAccepted(const QUrl &url)
{
    m_pageUrl = url;
    rebuildHiding();
    install(false, false);
}

void ProtectionScript::refresh()
{
    m_engine = ActiveFilters::engine();
    rebuildHiding();
    install(false, true);
}

void ProtectionScript::onUrlChanged(const QUrl &url)
{
    const QString host = hostOf(url);
    const bool newHost = host != m_committedHost;
    m_committedHost = host;
    const int before = m_revision;
    if (url != m_pageUrl) {
        m_pageUrl = url;
        rebuildHiding();
    }
    if (newHost || m_changedSinceCommit) {
        install(false, false);
        checkLiveDocument();
    } else if (m_revision != before) {
        // Same document, other address: $elemhide and $generichide
        // exceptions name addresses, not only hosts.
        install(false, true);
    }
    m_changedSinceCommit = false;
}

void ProtectionScript::checkLiveDocument()
{
    if (!m_page || !m_installed || !isWeb(m_pageUrl))
        return;
    const QString probe = QStringLiteral("(function () { const apply = window[Symbol.for('orvex.elementHiding')];"
                                         " return apply ? String(apply.revision) : ''; })()");
    QPointer<ProtectionScript> self(this);
    const int expected = m_revision;
    const bool hiding = m_hidingEnabled && !m_hiding.isEmpty();
    m_page->runJavaScript(probe, QWebEngineScript::MainWorld, [self, expected, hiding](const QVariant &revision) {
        if (!self || !self->m_page || self->m_revision != expected)
            return;
        const QString running = revision.toString();
        if (hiding ? running == QString::number(expected) : running.isEmpty())
            return;
        // The document ran an older script: the frame's copy is renewed
        // for its next documents, and this one gets its site's hiding.
        self->install(true, true);
    });
}

void ProtectionScript::install(bool reinsert, bool live)
{
    if (!m_page)
        return;
    QWebEngineScriptCollection &scripts = m_page->scripts();
    const QString hiding = m_hidingEnabled ? m_hiding : QString();
    QString source = m_pageScripts;
    if (!hiding.isEmpty())
        source += (source.isEmpty() ? QString() : QStringLiteral("\n;\n")) + hiding;
    if (m_installed && (source.isEmpty() || reinsert || source != m_script.sourceCode())) {
        scripts.remove(m_script);
        m_installed = false;
        m_changedSinceCommit = true;
    }
    if (!source.isEmpty() && !m_installed) {
        m_script.setSourceCode(source);
        scripts.insert(m_script);
        m_installed = true;
    }
    // Only the hiding part runs again: it hands its data to the live
    // document's hiding, or sets it up where the document has none.
    if (live && !hiding.isEmpty() && isWeb(m_pageUrl))
        m_page->runJavaScript(hiding, QWebEngineScript::MainWorld);
}
