#include "ProtectionScript.h"

#include "ActiveFilters.h"
#include "PageScript.h"
#include "PublicSuffix.h"

#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QtEndian>
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

// The engine's generic hiding data as the profile's script, made once per
// engine: every profile's copy and every live update use it.
struct GenericScript {
    std::weak_ptr<const FilterEngine> engine;
    QString source;
};

// The page's form of the table: per pair, a and b (24 bits each) in eight
// digits of six bits, most significant first, written as the characters '0'
// to 'p' without '\\', so the literal needs no escapes. Half the size of
// hex: every renderer keeps copies of it.
QString pageTable(const QByteArray &table)
{
    QByteArray out;
    out.reserve(table.size());
    for (qsizetype i = 0; i + 8 <= table.size(); i += 8) {
        const quint64 value = (quint64(qFromLittleEndian<quint32>(table.constData() + i)) << 24)
            | qFromLittleEndian<quint32>(table.constData() + i + 4);
        for (int shift = 42; shift >= 0; shift -= 6) {
            const int digit = int((value >> shift) & 0x3f);
            out.append(char('0' + digit + (digit >= '\\' - '0' ? 1 : 0)));
        }
    }
    return QString::fromLatin1(out);
}
}

QString ProtectionScript::genericSource(const std::shared_ptr<const FilterEngine> &engine)
{
    static GenericScript cached;
    if (!engine)
        return {};
    if (cached.engine.lock() != engine) {
        cached.engine = engine;
        const QByteArray table = engine->genericSelectorTable();
        const QString complex = engine->genericComplexSheet();
        cached.source = table.isEmpty() && complex.isEmpty()
            ? QString()
            : PageScript::fill(QStringLiteral("generichiding.js"),
                               {{QStringLiteral("TABLE"), PageScript::string(pageTable(table))},
                                {QStringLiteral("COMPLEX"), PageScript::string(complex)}});
    }
    return cached.source;
}

void ProtectionScript::installGeneric(QWebEngineProfile *profile)
{
    if (!profile)
        return;
    QWebEngineScriptCollection *scripts = profile->scripts();
    for (const QWebEngineScript &old : scripts->find(genericScriptName()))
        scripts->remove(old);
    const QString source = genericSource(ActiveFilters::engine());
    if (source.isEmpty())
        return;
    QWebEngineScript script;
    script.setName(genericScriptName());
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setSourceCode(source);
    scripts->insert(script);
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
    const FilterEngine::Hiding hiding = hidingFor(engine, url);
    // The profile's script brings the generic part; the page's exceptions
    // may keep some of its complex selectors.
    const QString complex = hiding.generic && !hiding.excluded.isEmpty()
        ? PageScript::string(engine->genericComplexSheet(hiding.excluded))
        : QStringLiteral("null");
    QStringList excluded;
    for (const QString &selector : hiding.excluded) {
        if (FilterEngine::isSimpleSelector(selector.toUtf8()))
            excluded.append(selector);
    }
    return PageScript::withElementFeed(
        PageScript::fill(QStringLiteral("elementhiding.js"),
                         {{QStringLiteral("COMPLEX"), complex},
                          {QStringLiteral("GENERIC"), PageScript::boolean(hiding.generic)},
                          {QStringLiteral("EXCLUDED"), PageScript::array(excluded)},
                          {QStringLiteral("EXTRA"), PageScript::string(hiding.extra)},
                          {QStringLiteral("HOST"), PageScript::string(hostOf(url))},
                          {QStringLiteral("REVISION"), QString::number(revision)}}));
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
    if (live && !hiding.isEmpty() && isWeb(m_pageUrl)) {
        const QString generic = genericSource(m_engine);
        m_page->runJavaScript(generic.isEmpty() ? hiding : generic + QStringLiteral("\n;\n") + hiding,
                              QWebEngineScript::MainWorld);
    }
}
