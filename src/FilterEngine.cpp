#include "FilterEngine.h"

#include <QtEndian>

#include "PublicSuffix.h"

#include <QDataStream>
#include <QIODevice>
#include <QSet>

#include <QFile>

#include <algorithm>
#include <cstring>
#include <type_traits>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// ---- tables ------------------------------------------------------------------

// Token (or page domain) -> rules, in an open-addressing table.
struct FilterEngine::Index {
    std::vector<quint32> slotKeys; // 0: empty slot
    std::vector<quint32> slotBuckets;
    quint32 mask = 0;
    std::vector<quint32> starts; // bucket b: ids[starts[b] .. starts[b + 1])
    std::vector<qint32> ids;
    std::vector<qint32> fallback; // rules with neither token nor page domain

    void build(std::vector<std::pair<quint32, qint32>> &entries)
    {
        std::sort(entries.begin(), entries.end());
        starts.clear();
        ids.clear();
        std::vector<quint32> keys;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (i == 0 || entries[i].first != entries[i - 1].first) {
                keys.push_back(entries[i].first);
                starts.push_back(quint32(ids.size()));
            }
            ids.push_back(entries[i].second);
        }
        starts.push_back(quint32(ids.size()));
        quint32 capacity = 16;
        while (capacity < keys.size() * 2)
            capacity <<= 1;
        mask = capacity - 1;
        slotKeys.assign(capacity, 0);
        slotBuckets.assign(capacity, 0);
        for (quint32 b = 0; b < keys.size(); ++b) {
            quint32 slot = keys[b] & mask;
            while (slotKeys[slot] != 0)
                slot = (slot + 1) & mask;
            slotKeys[slot] = keys[b];
            slotBuckets[slot] = b;
        }
    }

    // The rules filed under key (nonzero), or an empty range.
    std::pair<const qint32 *, const qint32 *> lookup(quint32 key) const
    {
        for (quint32 slot = key & mask;; slot = (slot + 1) & mask) {
            const quint32 k = slotKeys[slot];
            if (k == key) {
                const quint32 b = slotBuckets[slot];
                return {ids.data() + starts[b], ids.data() + starts[b + 1]};
            }
            if (k == 0)
                return {nullptr, nullptr};
        }
    }

    qsizetype bytes() const
    {
        return qsizetype((slotKeys.capacity() + slotBuckets.capacity() + starts.capacity()) * sizeof(quint32)
                         + (ids.capacity() + fallback.capacity()) * sizeof(qint32));
    }
};

// One request, prepared for matching: the URL in lower case, its host, the
// lookup keys of its tokens and of the page's domain.
struct FilterEngine::Request {
    QVarLengthArray<char, 2048> lowerBuf;
    QVarLengthArray<char, 256> origBuf; // the URL without a host's final dot
    const char *orig = nullptr;
    const char *lower = nullptr;
    qsizetype length = 0;
    qsizetype hostBegin = 0;
    qsizetype hostEnd = 0;
    quint32 type = 0;
    bool thirdParty = false;
    const Page *page = nullptr;
    QVarLengthArray<quint32, 96> keys;
    mutable QString utf16; // for regular expressions, made on first need
};

namespace {

constexpr int MaxUrlTokens = 2048;
constexpr int GroupSize = 20; // selectors per CSS rule in the style sheet
constexpr char Magic[8] = {'O', 'R', 'V', 'X', 'F', 'L', 'T', '\0'};

inline bool isTokenChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '%';
}

inline char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

inline quint32 tokenKey(const char *s, qsizetype n)
{
    quint32 h = 2166136261u;
    for (qsizetype i = 0; i < n; ++i) {
        h ^= uchar(s[i]);
        h *= 16777619u;
    }
    return h | 1u;
}

inline quint64 hash64(const char *s, qsizetype n)
{
    quint64 h = 14695981039346656037ull;
    for (qsizetype i = 0; i < n; ++i) {
        h ^= uchar(s[i]);
        h *= 1099511628211ull;
    }
    return h;
}

inline quint64 domainHash(QByteArrayView d)
{
    return hash64(d.data(), d.size());
}

inline quint32 domainKey(quint64 h)
{
    return (quint32(h ^ (h >> 32)) | 1u) ^ 0x5bd1e994u;
}

// Host of an encoded URL: [begin, end) without user info, port or IPv6
// brackets. False when the URL has no authority.
bool hostSpan(QByteArrayView url, qsizetype *begin, qsizetype *end)
{
    const qsizetype scheme = url.indexOf("://");
    if (scheme <= 0)
        return false;
    const qsizetype start = scheme + 3;
    qsizetype authorityEnd = url.size();
    for (qsizetype i = start; i < url.size(); ++i) {
        const char c = url[i];
        if (c == '/' || c == '?' || c == '#') {
            authorityEnd = i;
            break;
        }
    }
    qsizetype b = start;
    for (qsizetype i = authorityEnd - 1; i >= start; --i) {
        if (url[i] == '@') {
            b = i + 1;
            break;
        }
    }
    qsizetype e = authorityEnd;
    if (b < authorityEnd && url[b] == '[') {
        for (qsizetype i = b; i < authorityEnd; ++i) {
            if (url[i] == ']') {
                e = i;
                break;
            }
        }
        ++b;
    } else {
        for (qsizetype i = b; i < authorityEnd; ++i) {
            if (url[i] == ':') {
                e = i;
                break;
            }
        }
    }
    if (e <= b)
        return false;
    *begin = b;
    *end = e;
    return true;
}

bool isWebUrl(QByteArrayView url)
{
    const auto starts = [url](const char *p) {
        const qsizetype n = qsizetype(std::strlen(p));
        if (url.size() < n)
            return false;
        for (qsizetype i = 0; i < n; ++i) {
            if (lowerAscii(url[i]) != p[i])
                return false;
        }
        return true;
    };
    return starts("http://") || starts("https://") || starts("ws://") || starts("wss://");
}

// Keys under which a rule can be filed: the bounded tokens of its pattern.
// A token is bounded when the characters around it in the pattern can't be
// token characters of the URL (a separator, '^', an anchored end), so the
// URL holds it as a whole token wherever the rule matches.
void patternTokens(QByteArrayView p, bool leftAnchored, bool rightAnchored, QVarLengthArray<quint32, 8> *out)
{
    qsizetype i = 0;
    while (i < p.size()) {
        if (!isTokenChar(lowerAscii(p[i]))) {
            ++i;
            continue;
        }
        const qsizetype b = i;
        while (i < p.size() && isTokenChar(lowerAscii(p[i])))
            ++i;
        const bool leftOk = b == 0 ? leftAnchored : (p[b - 1] != '*' && uchar(p[b - 1]) < 0x80);
        const bool rightOk = i == p.size() ? rightAnchored : (p[i] != '*' && uchar(p[i]) < 0x80);
        if (leftOk && rightOk) {
            QVarLengthArray<char, 64> lowered;
            for (qsizetype k = b; k < i; ++k)
                lowered.append(lowerAscii(p[k]));
            out->append(tokenKey(lowered.data(), lowered.size()));
        }
    }
}

// The same for a regular expression: only literal text outside groups and
// classes, with literal (or anchored) neighbours and no quantifier.
void regexTokens(QByteArrayView re, QVarLengthArray<quint32, 8> *out)
{
    // Literal stream: a character, or '\0' for "something unknown".
    QVarLengthArray<char, 256> items;
    bool startAnchor = false, endAnchor = false;
    int depth = 0;
    for (qsizetype i = 0; i < re.size(); ++i) {
        const char c = re[i];
        if (c == '\\') {
            if (++i >= re.size())
                return;
            const char n = re[i];
            const bool literal = !((n >= 'a' && n <= 'z') || (n >= 'A' && n <= 'Z') || (n >= '0' && n <= '9'));
            if (depth == 0)
                items.append(literal ? n : '\0');
        } else if (c == '[') {
            ++i;
            if (i < re.size() && re[i] == '^')
                ++i;
            if (i < re.size() && re[i] == ']')
                ++i;
            while (i < re.size() && re[i] != ']') {
                if (re[i] == '\\')
                    ++i;
                ++i;
            }
            if (depth == 0)
                items.append('\0');
        } else if (c == '(') {
            if (depth == 0)
                items.append('\0');
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (depth > 0) {
            continue;
        } else if (c == '|') {
            return; // alternatives at the top: no token is certain
        } else if (c == '*' || c == '+' || c == '?' || c == '{') {
            if (c == '{') {
                while (i < re.size() && re[i] != '}')
                    ++i;
            }
            if (!items.isEmpty())
                items.last() = '\0';
            items.append('\0');
        } else if (c == '^' && i == 0) {
            startAnchor = true;
        } else if (c == '$' && i == re.size() - 1) {
            endAnchor = true;
        } else if (c == '.' || c == '^' || c == '$') {
            items.append('\0');
        } else {
            items.append(c);
        }
    }
    qsizetype i = 0;
    while (i < items.size()) {
        if (!isTokenChar(lowerAscii(items[i]))) {
            ++i;
            continue;
        }
        const qsizetype b = i;
        while (i < items.size() && isTokenChar(lowerAscii(items[i])))
            ++i;
        const bool leftOk = b == 0 ? startAnchor : items[b - 1] != '\0';
        const bool rightOk = i == items.size() ? endAnchor : items[i] != '\0';
        if (leftOk && rightOk) {
            QVarLengthArray<char, 64> lowered;
            for (qsizetype k = b; k < i; ++k)
                lowered.append(lowerAscii(items[k]));
            out->append(tokenKey(lowered.data(), lowered.size()));
        }
    }
}

// Whether a selector can share a CSS rule with others: one the browser does
// not understand would drop the whole group, so anything with a pseudo-class
// (or a colon in a value) goes alone.
bool groupable(QByteArrayView selector)
{
    return !selector.contains(':') && !selector.contains('\\');
}

void appendSheet(QString &out, const QList<QByteArrayView> &selectors)
{
    QList<QByteArrayView> group;
    const auto flush = [&out, &group] {
        if (group.isEmpty())
            return;
        for (qsizetype i = 0; i < group.size(); ++i) {
            if (i)
                out += QLatin1String(",\n");
            out += QString::fromUtf8(group[i]);
        }
        out += QLatin1String(" { display: none !important; }\n");
        group.clear();
    };
    for (QByteArrayView s : selectors) {
        if (!groupable(s)) {
            out += QString::fromUtf8(s);
            out += QLatin1String(" { display: none !important; }\n");
            continue;
        }
        group.append(s);
        if (group.size() == GroupSize)
            flush();
    }
    flush();
}

} // namespace

// ---- construction ----------------------------------------------------------------

FilterEngine::FilterEngine() = default;
FilterEngine::~FilterEngine() = default;

namespace {
// "rule$a,badfilter,b" -> "rule$a,b"; "rule$badfilter" -> "rule".
QString withoutBadfilter(const QString &line)
{
    const qsizetype dollar = line.lastIndexOf(QLatin1Char('$'));
    if (dollar < 0)
        return line;
    QStringList options = line.mid(dollar + 1).split(QLatin1Char(','));
    options.removeIf([](const QString &o) { return o.trimmed().compare(QLatin1String("badfilter"), Qt::CaseInsensitive) == 0; });
    return options.isEmpty() ? line.left(dollar) : line.left(dollar + 1) + options.join(QLatin1Char(','));
}
}

std::shared_ptr<const FilterEngine> FilterEngine::build(const QList<Source> &sources)
{
    auto engine = std::make_shared<FilterEngine>();
    QSet<QByteArray> badfilters;
    for (const Source &source : sources) {
        if (engine->m_listNames.size() >= 0xffff)
            break;
        const quint16 list = quint16(engine->m_listNames.size());
        engine->m_listNames.append(source.name);
        ListStats stats;
        stats.name = source.name;
        const QByteArray &text = source.text;
        qsizetype pos = 0;
        while (pos < text.size()) {
            qsizetype end = pos;
            while (end < text.size() && text[end] != '\n' && text[end] != '\r')
                ++end;
            const QByteArrayView lineBytes(text.constData() + pos, end - pos);
            pos = end + 1;
            if (lineBytes.isEmpty())
                continue;
            if (lineBytes.size() > FilterRule::MaxLineLength) {
                ++stats.skipped;
                continue;
            }
            const QString line = QString::fromUtf8(lineBytes);
            const FilterRule rule = FilterRule::parse(line);
            switch (rule.kind) {
            case FilterRule::Kind::Empty:
            case FilterRule::Kind::Comment:
                break;
            case FilterRule::Kind::Skipped:
                ++stats.skipped;
                break;
            case FilterRule::Kind::Invalid:
                ++stats.invalid;
                break;
            case FilterRule::Kind::Network:
                if (rule.badfilter) {
                    badfilters.insert(withoutBadfilter(line.trimmed()).toUtf8());
                    break;
                }
                Q_FALLTHROUGH();
            case FilterRule::Kind::ElementHide: {
                const qsizetype before = qsizetype(engine->m_rules.size() + engine->m_hides.size());
                engine->add(rule, line.trimmed().toUtf8(), list);
                if (qsizetype(engine->m_rules.size() + engine->m_hides.size()) == before)
                    ++stats.invalid;
                else if (rule.kind == FilterRule::Kind::Network)
                    ++stats.networkRules;
                else
                    ++stats.hidingRules;
                break;
            }
            }
        }
        engine->m_stats.append(stats);
    }
    if (!badfilters.isEmpty())
        engine->cancel(badfilters);
    engine->chooseKeys();
    engine->finalize();
    return engine;
}

// Drops the rules that a $badfilter rule names (written the same without
// that option), in whichever list they are.
void FilterEngine::cancel(const QSet<QByteArray> &texts)
{
    std::vector<NetRule> kept;
    kept.reserve(m_rules.rows.size());
    for (const NetRule &r : m_rules) {
        if (texts.contains(QByteArray(m_text.constData() + r.textOffset, r.textLength))) {
            if (r.list < m_stats.size())
                --m_stats[r.list].networkRules;
            continue;
        }
        kept.push_back(r);
    }
    m_rules.rows.swap(kept);
}

void FilterEngine::add(const FilterRule &rule, const QByteArray &text, quint16 list)
{
    // Offsets are 32-bit: a list set beyond that is cut, not wrapped.
    constexpr qsizetype Limit = 0x7fffffff;
    const auto addDomains = [this](const FilterRule &r, quint32 *offset, quint16 *count) {
        std::vector<DomainRef> refs;
        for (const QString &d : r.includeDomains)
            refs.push_back({domainHash(d.toLatin1()), 0, 0});
        for (const QString &d : r.excludeDomains)
            refs.push_back({domainHash(d.toLatin1()), 1, 0});
        if (refs.size() > 0xffff)
            return false;
        std::sort(refs.begin(), refs.end(), [](const DomainRef &a, const DomainRef &b) { return a.hash < b.hash; });
        *offset = quint32(m_domains.size());
        *count = quint16(refs.size());
        m_domains.rows.insert(m_domains.rows.end(), refs.begin(), refs.end());
        return true;
    };

    if (rule.kind == FilterRule::Kind::ElementHide) {
        const QByteArray selector = rule.selector.toUtf8();
        if (m_selectors.size() + selector.size() > Limit)
            return;
        HideRule h{};
        if (!addDomains(rule, &h.domainsOffset, &h.domainsCount))
            return;
        h.selectorOffset = quint32(m_selectors.size());
        h.selectorLength = quint32(selector.size());
        h.exception = rule.hideException ? 1 : 0;
        m_selectors += selector;
        m_hides.rows.push_back(h);
        return;
    }

    const QByteArray pattern = rule.pattern.toUtf8();
    if (m_text.size() + text.size() > Limit || m_patterns.size() + pattern.size() > Limit)
        return;
    NetRule n{};
    if (rule.regex) {
        QRegularExpression re(QStringLiteral("(*LIMIT_MATCH=100000)") + rule.pattern,
                              rule.matchCase ? QRegularExpression::NoPatternOption
                                             : QRegularExpression::CaseInsensitiveOption);
        if (!re.isValid())
            return;
    }
    if (!addDomains(rule, &n.domainsOffset, &n.domainsCount))
        return;
    n.textOffset = quint32(m_text.size());
    n.textLength = quint32(text.size());
    n.patternOffset = quint32(m_patterns.size());
    n.patternLength = quint32(pattern.size());
    n.types = rule.types;
    n.list = list;
    quint16 f = 0;
    if (rule.exception)
        f |= NetRule::Exception;
    if (rule.important)
        f |= NetRule::Important;
    if (rule.matchCase)
        f |= NetRule::MatchCase;
    if (rule.regex)
        f |= NetRule::Regex;
    if (rule.hostAnchor)
        f |= NetRule::HostAnchor;
    if (rule.startAnchor)
        f |= NetRule::StartAnchor;
    if (rule.endAnchor)
        f |= NetRule::EndAnchor;
    if (rule.party == FilterRule::Party::ThirdOnly)
        f |= NetRule::ThirdParty;
    if (rule.party == FilterRule::Party::FirstOnly)
        f |= NetRule::FirstParty;
    n.flags = f;
    m_text += text;
    m_patterns += pattern;
    m_rules.rows.push_back(n);
}

bool FilterEngine::finalize()
{
    m_regexes.clear();
    for (qint32 id = 0; id < qint32(m_rules.size()); ++id) {
        const NetRule &r = m_rules[size_t(id)];
        if (!(r.flags & NetRule::Regex))
            continue;
        const QString source = QString::fromUtf8(patternOf(r));
        if (!FilterRule::isSafeRegex(source))
            return false;
        QRegularExpression re(QStringLiteral("(*LIMIT_MATCH=100000)") + source,
                              (r.flags & NetRule::MatchCase) ? QRegularExpression::NoPatternOption
                                                             : QRegularExpression::CaseInsensitiveOption);
        if (!re.isValid())
            return false;
        re.optimize();
        m_regexes.insert(id, re);
    }
    buildIndex();
    buildHiding();
    return true;
}

// Each rule's lookup key: the rarest bounded token of its pattern, so that
// no bucket grows with the list; else its page domains; else none (checked
// for every request). Chosen once when the lists are compiled and cached
// with them.
void FilterEngine::chooseKeys()
{
    std::vector<QVarLengthArray<quint32, 8>> candidates(m_rules.size());
    QHash<quint32, int> frequency;
    for (size_t id = 0; id < m_rules.size(); ++id) {
        const NetRule &r = m_rules[id];
        QVarLengthArray<quint32, 8> &keys = candidates[id];
        const QByteArrayView p = patternOf(r);
        if (r.flags & NetRule::Regex)
            regexTokens(p, &keys);
        else
            patternTokens(p, r.flags & (NetRule::HostAnchor | NetRule::StartAnchor), r.flags & NetRule::EndAnchor,
                          &keys);
        for (quint32 k : keys)
            ++frequency[k];
    }
    std::vector<quint32> &ruleKeys = m_ruleKeys.rows;
    ruleKeys.assign(m_rules.size(), NoKey);
    for (size_t id = 0; id < m_rules.size(); ++id) {
        const NetRule &r = m_rules[id];
        const QVarLengthArray<quint32, 8> &keys = candidates[id];
        if (!keys.isEmpty()) {
            quint32 best = keys[0];
            for (quint32 k : keys)
                if (frequency.value(k) < frequency.value(best))
                    best = k;
            ruleKeys[id] = best;
            continue;
        }
        for (quint32 d = 0; d < r.domainsCount; ++d) {
            if (!m_domains[r.domainsOffset + d].exclude)
                ruleKeys[id] = PageDomainKeys;
        }
    }
}

void FilterEngine::buildIndex()
{
    std::vector<std::pair<quint32, qint32>> entries[3];
    m_important = std::make_unique<Index>();
    m_blocking = std::make_unique<Index>();
    m_exceptions = std::make_unique<Index>();
    Index *indexes[3] = {m_important.get(), m_blocking.get(), m_exceptions.get()};
    for (size_t id = 0; id < m_rules.size(); ++id) {
        const NetRule &r = m_rules[id];
        const int which = (r.flags & NetRule::Exception) ? 2 : (r.flags & NetRule::Important) ? 0 : 1;
        const quint32 key = m_ruleKeys[id];
        if (key == NoKey) {
            indexes[which]->fallback.push_back(qint32(id));
        } else if (key == PageDomainKeys) {
            // Any one of the included domains may be the page's.
            for (quint32 d = 0; d < r.domainsCount; ++d) {
                const DomainRef &ref = m_domains[r.domainsOffset + d];
                if (!ref.exclude)
                    entries[which].push_back({domainKey(ref.hash), qint32(id)});
            }
        } else {
            entries[which].push_back({key | 1u, qint32(id)});
        }
    }
    for (int i = 0; i < 3; ++i) {
        // A rule filed twice under one key (domain lists with repeats) is checked once.
        std::sort(entries[i].begin(), entries[i].end());
        entries[i].erase(std::unique(entries[i].begin(), entries[i].end()), entries[i].end());
        indexes[i]->build(entries[i]);
    }
}

void FilterEngine::buildHiding()
{
    m_hideByDomain.clear();
    m_genericWithExclusions.clear();
    m_genericExceptions.clear();
    const auto selectorOf = [this](const HideRule &h) {
        return QByteArrayView(m_selectors.constData() + h.selectorOffset, h.selectorLength);
    };
    for (qint32 id = 0; id < qint32(m_hides.size()); ++id) {
        const HideRule &h = m_hides[size_t(id)];
        bool includes = false;
        for (quint32 d = 0; d < h.domainsCount; ++d) {
            const DomainRef &ref = m_domains[h.domainsOffset + d];
            if (!ref.exclude) {
                includes = true;
                m_hideByDomain[ref.hash].append(id);
            }
        }
        if (includes)
            continue;
        if (h.exception) {
            if (h.domainsCount == 0)
                m_genericExceptions.insert(selectorOf(h).toByteArray());
        } else if (h.domainsCount > 0) {
            m_genericWithExclusions.append(id);
        }
    }
    QList<QByteArrayView> complex;
    std::vector<std::pair<quint32, quint32>> table;
    m_genericComplex.clear();
    m_hasGeneric = false;
    for (qint32 id = 0; id < qint32(m_hides.size()); ++id) {
        const HideRule &h = m_hides[size_t(id)];
        if (h.exception || h.domainsCount != 0 || m_genericExceptions.contains(selectorOf(h).toByteArray()))
            continue;
        m_hasGeneric = true;
        if (isSimpleSelector(selectorOf(h))) {
            quint32 a = 0, b = 0;
            selectorHash(QString::fromLatin1(selectorOf(h)), &a, &b);
            table.emplace_back(a, b);
        } else {
            complex.append(selectorOf(h));
            m_genericComplex.append(id);
        }
    }
    m_genericComplexSheet.clear();
    appendSheet(m_genericComplexSheet, complex);
    m_genericComplexSheet.squeeze();
    std::sort(table.begin(), table.end());
    table.erase(std::unique(table.begin(), table.end()), table.end());
    m_genericTable.resize(qsizetype(table.size() * 8));
    uchar *out = reinterpret_cast<uchar *>(m_genericTable.data());
    for (const auto &[a, b] : table) {
        qToLittleEndian(a, out);
        qToLittleEndian(b, out + 4);
        out += 8;
    }
}

bool FilterEngine::isSimpleSelector(QByteArrayView selector)
{
    if (selector.size() < 2 || (selector[0] != '#' && selector[0] != '.'))
        return false;
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
    qsizetype i = 1;
    if (selector[i] == '-')
        ++i;
    // A name starts with a letter (after one hyphen at most), then letters,
    // digits, hyphens: what needs no escaping in CSS.
    if (i >= selector.size() || !letter(selector[i]))
        return false;
    for (++i; i < selector.size(); ++i) {
        const char c = selector[i];
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '-')
            return false;
    }
    return true;
}

void FilterEngine::selectorHash(QStringView key, quint32 *a, quint32 *b)
{
    // Two streams, each modulo a prime below 2^24 with a multiplier below
    // 64: no step leaves 2^30, so a page computes them in small integers.
    // A script engine boxes larger ones before it optimizes the function,
    // and a page looks up every id and class it has while it loads.
    constexpr quint64 P1 = 16777213, P2 = 16777199;
    quint64 h1 = (0x9e3779u + quint64(key.size())) % P1;
    quint64 h2 = (0x7f4a7cu + quint64(key.size())) % P2;
    for (const QChar c : key) {
        h1 = ((h1 ^ c.unicode()) * 63) % P1;
        h2 = ((h2 ^ c.unicode()) * 61) % P2;
    }
    *a = quint32(h1);
    *b = quint32(h2);
}

QString FilterEngine::genericComplexSheet(const QStringList &excluded) const
{
    if (excluded.isEmpty())
        return m_genericComplexSheet;
    QSet<QByteArray> skip;
    for (const QString &selector : excluded)
        skip.insert(selector.toUtf8());
    QList<QByteArrayView> selectors;
    for (const qint32 id : m_genericComplex) {
        const HideRule &h = m_hides[size_t(id)];
        const QByteArrayView selector(m_selectors.constData() + h.selectorOffset, h.selectorLength);
        if (!skip.contains(selector.toByteArray()))
            selectors.append(selector);
    }
    QString sheet;
    appendSheet(sheet, selectors);
    return sheet;
}

// ---- cache -------------------------------------------------------------------------

// The file: magic, version, key, checksum of the payload, the payload's
// size, zeros up to a multiple of 16; then the payload, a row of sections,
// each its size (64 bits) and bytes, padded to 8 so that every table can
// be read where it lies. Numbers are little-endian; the tables' rows are
// raw: their layout is the format.
struct FilterEngine::Storage {
    QByteArray heap;
    void *mapped = nullptr;
    size_t mappedSize = 0;

    Storage() = default;
    Storage(const Storage &) = delete;
    Storage &operator=(const Storage &) = delete;
    ~Storage()
    {
        if (mapped)
            munmap(mapped, mappedSize);
    }
    const char *data() const { return mapped ? static_cast<const char *>(mapped) : heap.constData(); }
    size_t size() const { return mapped ? mappedSize : size_t(heap.size()); }
};

namespace {

constexpr size_t Align = 8;
constexpr quint32 MaxKeySize = 1024;

size_t padding(size_t bytes, size_t to)
{
    return (to - bytes % to) % to;
}

void appendNumber(QByteArray &out, quint64 value, int bytes)
{
    char raw[8];
    qToLittleEndian<quint64>(value, raw);
    out.append(raw, bytes);
}

void appendSection(QByteArray &out, const char *data, size_t bytes)
{
    appendNumber(out, bytes, 8);
    out.append(data, qsizetype(bytes));
    out.append(qsizetype(padding(bytes, Align)), '\0');
}

template <typename T>
void appendSection(QByteArray &out, const T *rows, size_t count)
{
    appendSection(out, reinterpret_cast<const char *>(rows), count * sizeof(T));
}

// Sections of a payload, in order; anything out of bounds ends it.
class SectionReader
{
public:
    SectionReader(const char *data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    bool next(const char **data, size_t *bytes)
    {
        if (m_size - m_at < 8)
            return false;
        const quint64 length = qFromLittleEndian<quint64>(m_data + m_at);
        m_at += 8;
        if (length > m_size - m_at || padding(size_t(length), Align) > m_size - m_at - length)
            return false;
        *data = m_data + m_at;
        *bytes = size_t(length);
        m_at += size_t(length) + padding(size_t(length), Align);
        return true;
    }
    bool atEnd() const { return m_at == m_size; }

private:
    const char *m_data;
    size_t m_size;
    size_t m_at = 0;
};

// A read-only private mapping of the file, one page off a 2 MiB boundary.
// The page cache keeps files in large folios (ext4, XFS), and the kernel
// maps a whole 2 MiB folio at once where address and file offset agree
// modulo 2 MiB: each decision would bring 2 MiB of tables in, not a page.
void *mapFile(int fd, size_t size)
{
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    constexpr size_t Huge = 2 * 1024 * 1024;
    const size_t length = size + padding(size, page);
    const size_t span = length + Huge + page;
    void *reserved = mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (reserved == MAP_FAILED)
        return MAP_FAILED;
    char *base = static_cast<char *>(reserved);
    char *at = reinterpret_cast<char *>((quintptr(base) + Huge - 1) & ~quintptr(Huge - 1)) + page;
    if (mmap(at, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0) == MAP_FAILED) {
        munmap(reserved, span);
        return MAP_FAILED;
    }
    if (at > base)
        munmap(base, size_t(at - base));
    if (base + span > at + length)
        munmap(at + length, size_t(base + span - (at + length)));
    return at;
}

} // namespace

quint64 FilterEngine::checksum(QByteArrayView data, quint64 seed)
{
    // Two lanes of 64-bit words, multiplied and rotated, then mixed: a few
    // milliseconds for the whole cache where SHA-256 took some 45 on every
    // start. It finds damage; a hostile file is refused by validate().
    constexpr quint64 k1 = 0x9e3779b97f4a7c15ull;
    constexpr quint64 k2 = 0xc2b2ae3d27d4eb4full;
    const auto rotl = [](quint64 x, int r) { return (x << r) | (x >> (64 - r)); };
    quint64 a = seed ^ 0x243f6a8885a308d3ull ^ quint64(data.size());
    quint64 b = seed ^ 0x13198a2e03707344ull;
    const char *p = data.data();
    qsizetype n = data.size();
    for (; n >= 16; p += 16, n -= 16) {
        a = rotl(a ^ (qFromLittleEndian<quint64>(p) * k1), 31) * k2;
        b = rotl(b ^ (qFromLittleEndian<quint64>(p + 8) * k2), 29) * k1;
    }
    for (; n > 0; ++p, --n)
        a = rotl(a ^ (quint64(uchar(*p)) * k1), 31) * k2;
    quint64 h = a ^ rotl(b, 17);
    h = (h ^ (h >> 33)) * 0xff51afd7ed558ccdull;
    h = (h ^ (h >> 33)) * 0xc4ceb9fe1a85ec53ull;
    return h ^ (h >> 33);
}

QByteArray FilterEngine::toBytes(const QByteArray &sourceKey) const
{
    static_assert(sizeof(NetRule) == 32 && sizeof(DomainRef) == 16 && sizeof(HideRule) == 16, "cache layout");
    static_assert(alignof(NetRule) <= Align && alignof(DomainRef) <= Align && alignof(HideRule) <= Align,
                  "cache layout");
    QByteArray meta;
    {
        QDataStream out(&meta, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_4);
        out << m_listNames << quint32(m_stats.size());
        for (const ListStats &s : m_stats)
            out << s.name << qint32(s.networkRules) << qint32(s.hidingRules) << qint32(s.skipped) << qint32(s.invalid);
    }
    QByteArray payload;
    payload.reserve(m_text.size() + m_patterns.size() + m_selectors.size() + meta.size() + 128
                    + qsizetype(m_rules.size() * sizeof(NetRule) + m_domains.size() * sizeof(DomainRef)
                                + m_hides.size() * sizeof(HideRule) + m_ruleKeys.size() * sizeof(quint32)));
    appendSection(payload, m_text.constData(), size_t(m_text.size()));
    appendSection(payload, m_patterns.constData(), size_t(m_patterns.size()));
    appendSection(payload, m_selectors.constData(), size_t(m_selectors.size()));
    appendSection(payload, m_rules.data(), m_rules.size());
    appendSection(payload, m_domains.data(), m_domains.size());
    appendSection(payload, m_hides.data(), m_hides.size());
    appendSection(payload, m_ruleKeys.data(), m_ruleKeys.size());
    appendSection(payload, meta.constData(), size_t(meta.size()));

    const QByteArray key = sourceKey.left(qsizetype(MaxKeySize));
    QByteArray bytes;
    bytes.reserve(payload.size() + 128);
    bytes.append(Magic, sizeof Magic);
    appendNumber(bytes, FormatVersion, 4);
    appendNumber(bytes, quint64(key.size()), 4);
    bytes.append(key);
    appendNumber(bytes, checksum(payload), 8);
    appendNumber(bytes, quint64(payload.size()), 8);
    bytes.append(qsizetype(padding(size_t(bytes.size()), 16)), '\0');
    bytes.append(payload);
    return bytes;
}

std::shared_ptr<const FilterEngine> FilterEngine::fromBytes(const QByteArray &bytes, const QByteArray &sourceKey)
{
    auto storage = std::make_shared<Storage>();
    storage->heap = bytes;
    // Rows are read in place: a buffer that starts off alignment is copied.
    if (quintptr(bytes.constData()) % Align != 0)
        storage->heap = QByteArray(bytes.constData(), bytes.size());
    return load(storage, sourceKey);
}

std::shared_ptr<const FilterEngine> FilterEngine::fromFile(const QString &path, const QByteArray &sourceKey)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    void *mapped = MAP_FAILED;
    // A cache is some megabytes; anything far bigger is no cache of ours.
    constexpr off_t MaxSize = 256 * 1024 * 1024;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size <= MaxSize)
        mapped = mapFile(fd, size_t(st.st_size));
    ::close(fd);
    if (mapped == MAP_FAILED)
        return nullptr;
    auto storage = std::make_shared<Storage>();
    storage->mapped = mapped;
    storage->mappedSize = size_t(st.st_size);
    std::shared_ptr<const FilterEngine> engine = load(storage, sourceKey);
    // Checking read every page; from now on only what decisions read is
    // brought back, from the page cache.
    if (engine)
        madvise(mapped, size_t(st.st_size), MADV_DONTNEED);
    return engine;
}

std::shared_ptr<const FilterEngine> FilterEngine::load(std::shared_ptr<const Storage> storage, const QByteArray &sourceKey)
{
    const char *data = storage->data();
    const size_t size = storage->size();
    constexpr size_t Fixed = sizeof Magic + 4 + 4;
    if (size < Fixed || std::memcmp(data, Magic, sizeof Magic) != 0
        || qFromLittleEndian<quint32>(data + sizeof Magic) != FormatVersion)
        return nullptr;
    const quint32 keySize = qFromLittleEndian<quint32>(data + sizeof Magic + 4);
    if (keySize > MaxKeySize || size - Fixed < keySize + 8 + 8
        || QByteArrayView(data + Fixed, keySize) != QByteArrayView(sourceKey))
        return nullptr;
    const char *digest = data + Fixed + keySize;
    const quint64 payloadSize = qFromLittleEndian<quint64>(digest + 8);
    size_t at = Fixed + keySize + 8 + 8;
    at += padding(at, 16);
    if (at > size || payloadSize != size - at)
        return nullptr;
    const QByteArrayView payload(data + at, qsizetype(payloadSize));
    if (checksum(payload) != qFromLittleEndian<quint64>(digest))
        return nullptr;

    auto engine = std::make_shared<FilterEngine>();
    engine->m_storage = storage;
    SectionReader sections(payload.data(), size_t(payload.size()));
    const auto pool = [&sections](QByteArray &into) {
        const char *p = nullptr;
        size_t n = 0;
        if (!sections.next(&p, &n))
            return false;
        into = QByteArray::fromRawData(p, qsizetype(n));
        return true;
    };
    const auto table = [&sections](auto &into) {
        using Row = std::decay_t<decltype(into[0])>;
        const char *p = nullptr;
        size_t n = 0;
        if (!sections.next(&p, &n) || n % sizeof(Row) != 0 || quintptr(p) % alignof(Row) != 0)
            return false;
        into.view = reinterpret_cast<const Row *>(p);
        into.viewSize = n / sizeof(Row);
        return true;
    };
    if (!pool(engine->m_text) || !pool(engine->m_patterns) || !pool(engine->m_selectors)
        || !table(engine->m_rules) || !table(engine->m_domains) || !table(engine->m_hides)
        || !table(engine->m_ruleKeys))
        return nullptr;
    const char *metaData = nullptr;
    size_t metaSize = 0;
    if (!sections.next(&metaData, &metaSize) || !sections.atEnd())
        return nullptr;
    QDataStream p(QByteArray::fromRawData(metaData, qsizetype(metaSize)));
    p.setVersion(QDataStream::Qt_6_4);
    quint32 lists = 0;
    p >> engine->m_listNames >> lists;
    if (p.status() != QDataStream::Ok || lists > quint32(engine->m_listNames.size()))
        return nullptr;
    for (quint32 i = 0; i < lists; ++i) {
        ListStats s;
        qint32 a = 0, b = 0, c = 0, d = 0;
        p >> s.name >> a >> b >> c >> d;
        s.networkRules = a;
        s.hidingRules = b;
        s.skipped = c;
        s.invalid = d;
        engine->m_stats.append(s);
    }
    if (p.status() != QDataStream::Ok || !p.atEnd() || !engine->validate() || !engine->finalize())
        return nullptr;
    return engine;
}

// Every offset of a loaded table must stay inside its pool, and every
// selector must still be plain CSS: a cache file is outside input too.
bool FilterEngine::validate() const
{
    const auto inside = [](quint64 offset, quint64 length, quint64 size) { return offset + length <= size; };
    constexpr quint32 knownTypes = (FilterRule::GenericHide << 1) - 1;
    if (m_ruleKeys.size() != m_rules.size())
        return false;
    for (const NetRule &r : m_rules) {
        if (!inside(r.textOffset, r.textLength, quint64(m_text.size()))
            || !inside(r.patternOffset, r.patternLength, quint64(m_patterns.size()))
            || !inside(r.domainsOffset, r.domainsCount, m_domains.size()) || r.list >= m_listNames.size()
            || r.types == 0 || (r.types & ~knownTypes) || (r.flags & ~NetRule::AllFlags))
            return false;
    }
    for (const DomainRef &d : m_domains) {
        if (d.exclude > 1)
            return false;
    }
    for (const HideRule &h : m_hides) {
        if (!inside(h.selectorOffset, h.selectorLength, quint64(m_selectors.size()))
            || !inside(h.domainsOffset, h.domainsCount, m_domains.size()) || h.exception > 1 || h.selectorLength == 0)
            return false;
        const QString selector = QString::fromUtf8(m_selectors.constData() + h.selectorOffset, h.selectorLength);
        if (!FilterRule::isSafeSelector(selector))
            return false;
    }
    return true;
}

// ---- matching ------------------------------------------------------------------------

bool FilterEngine::isSeparator(char c)
{
    const uchar u = uchar(c);
    return !((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u == '-'
             || u == '.' || u == '%');
}

namespace {

// End of part matched at url[at], or -1. '^' matches a separator, or the end
// of the URL without using a character.
qsizetype matchPartAt(QByteArrayView part, QByteArrayView url, qsizetype at)
{
    qsizetype pos = at;
    for (const char c : part) {
        if (c == '^') {
            if (pos < url.size()) {
                if (!FilterEngine::isSeparator(url[pos]))
                    return -1;
                ++pos;
            }
        } else {
            if (pos >= url.size() || url[pos] != c)
                return -1;
            ++pos;
        }
    }
    return pos;
}

// End of the leftmost match of part at or after from, or -1.
qsizetype findPart(QByteArrayView part, QByteArrayView url, qsizetype from)
{
    if (!part.contains('^')) {
        const qsizetype at = url.indexOf(part, from);
        return at < 0 ? -1 : at + part.size();
    }
    const char first = part[0];
    for (qsizetype s = from; s <= url.size(); ++s) {
        if (first != '^') {
            const void *hit = s < url.size() ? std::memchr(url.data() + s, first, size_t(url.size() - s)) : nullptr;
            if (!hit)
                return -1;
            s = static_cast<const char *>(hit) - url.data();
        }
        const qsizetype end = matchPartAt(part, url, s);
        if (end >= 0)
            return end;
    }
    return -1;
}

} // namespace

bool FilterEngine::globMatch(QByteArrayView pattern, QByteArrayView url, qsizetype at, bool anchoredStart,
                             bool anchoredEnd)
{
    qsizetype pos = at;
    bool first = true;
    qsizetype i = 0;
    while (true) {
        qsizetype star = pattern.indexOf('*', i);
        const bool last = star < 0;
        if (last)
            star = pattern.size();
        const QByteArrayView part = pattern.sliced(i, star - i);
        if (part.isEmpty()) {
            if (last)
                return !(anchoredEnd && first && anchoredStart) || pos == url.size();
        } else if (first && anchoredStart) {
            const qsizetype end = matchPartAt(part, url, pos);
            if (end < 0 || (last && anchoredEnd && end != url.size()))
                return false;
            pos = end;
        } else if (last && anchoredEnd) {
            for (qsizetype s = qMax(pos, url.size() - part.size()); s <= url.size(); ++s) {
                if (matchPartAt(part, url, s) == url.size())
                    return true;
            }
            return false;
        } else {
            const qsizetype end = findPart(part, url, pos);
            if (end < 0)
                return false;
            pos = end;
        }
        if (last)
            return true;
        first = false;
        i = star + 1;
    }
}

QByteArrayView FilterEngine::patternOf(const NetRule &rule) const
{
    return QByteArrayView(m_patterns.constData() + rule.patternOffset, rule.patternLength);
}

bool FilterEngine::domainsMatch(quint32 offset, quint16 count, const Page &page) const
{
    const DomainRef *begin = m_domains.data() + offset;
    const DomainRef *end = begin + count;
    bool includes = false;
    for (const DomainRef *d = begin; d != end; ++d)
        includes = includes || !d->exclude;
    const auto find = [begin, end](quint64 h) -> const DomainRef * {
        const DomainRef *it = std::lower_bound(begin, end, h, [](const DomainRef &d, quint64 v) { return d.hash < v; });
        return (it != end && it->hash == h) ? it : nullptr;
    };
    // The most specific entry naming the page's host or a parent decides.
    for (qsizetype level = 0; level < page.levels.size(); ++level) {
        for (const quint64 h : {page.levels[level], page.entities[level]}) {
            if (h == 0)
                continue;
            if (const DomainRef *hit = find(h))
                return !hit->exclude;
        }
    }
    return !includes;
}

bool FilterEngine::ruleMatches(const NetRule &r, const Request &req) const
{
    if (!(r.types & req.type))
        return false;
    if ((r.flags & NetRule::ThirdParty) && !req.thirdParty)
        return false;
    if ((r.flags & NetRule::FirstParty) && req.thirdParty)
        return false;

    if (r.flags & NetRule::Regex) {
        const qint32 id = qint32(&r - m_rules.data());
        const auto it = m_regexes.constFind(id);
        if (it == m_regexes.cend())
            return false;
        if (req.utf16.isEmpty())
            req.utf16 = QString::fromLatin1(req.orig, req.length);
        if (!it->match(req.utf16).hasMatch())
            return false;
    } else {
        const QByteArrayView p = patternOf(r);
        const QByteArrayView url((r.flags & NetRule::MatchCase) ? req.orig : req.lower, req.length);
        const bool endAnchor = r.flags & NetRule::EndAnchor;
        bool hit = false;
        if (r.flags & NetRule::HostAnchor) {
            if (req.hostEnd <= req.hostBegin)
                return false;
            for (qsizetype s = req.hostBegin; s < req.hostEnd && !hit; ++s) {
                if (s == req.hostBegin || req.lower[s - 1] == '.')
                    hit = globMatch(p, url, s, true, endAnchor);
            }
        } else {
            hit = globMatch(p, url, 0, r.flags & NetRule::StartAnchor, endAnchor);
        }
        if (!hit)
            return false;
    }
    if (r.domainsCount && !domainsMatch(r.domainsOffset, r.domainsCount, *req.page))
        return false;
    return true;
}

qint32 FilterEngine::findIn(const Index &index, const Request &req) const
{
    for (const qint32 id : index.fallback) {
        if (ruleMatches(m_rules[size_t(id)], req))
            return id;
    }
    if (index.ids.empty())
        return -1;
    for (const quint32 key : req.keys) {
        const auto [begin, end] = index.lookup(key);
        for (const qint32 *it = begin; it != end; ++it) {
            if (ruleMatches(m_rules[size_t(*it)], req))
                return *it;
        }
    }
    return -1;
}

void FilterEngine::prepare(Request &req, QByteArrayView url, const Page &page, quint32 type) const
{
    req.lowerBuf.resize(url.size() + 1);
    char *lower = req.lowerBuf.data();
    for (qsizetype i = 0; i < url.size(); ++i)
        lower[i] = lowerAscii(url[i]);
    lower[url.size()] = '\0';
    req.orig = url.data();
    req.lower = lower;
    req.length = url.size();
    req.type = type;
    req.page = &page;
    req.hostBegin = req.hostEnd = 0;
    hostSpan(QByteArrayView(lower, url.size()), &req.hostBegin, &req.hostEnd);
    // "ads.example." is the host "ads.example": without its final dot, so
    // that rules for the host can't be passed by.
    if (req.hostEnd - req.hostBegin > 1 && lower[req.hostEnd - 1] == '.') {
        const qsizetype dot = req.hostEnd - 1;
        std::memmove(lower + dot, lower + dot + 1, size_t(url.size() - dot)); // with the NUL
        req.origBuf.resize(url.size() - 1);
        std::memcpy(req.origBuf.data(), url.data(), size_t(dot));
        std::memcpy(req.origBuf.data() + dot, url.data() + dot + 1, size_t(url.size() - dot - 1));
        req.orig = req.origBuf.constData();
        req.length = url.size() - 1;
        req.hostEnd = dot;
        url = QByteArrayView(req.origBuf.constData(), req.length);
    }

    // Third party: the registrable domains differ. No page: first party.
    req.thirdParty = false;
    if (!page.host.isEmpty() && req.hostEnd > req.hostBegin) {
        const qsizetype hostLength = req.hostEnd - req.hostBegin;
        const char saved = lower[req.hostEnd];
        lower[req.hostEnd] = '\0'; // libpsl reads up to a NUL
        const qsizetype reg = PublicSuffix::registrableOffset(lower + req.hostBegin, hostLength);
        lower[req.hostEnd] = saved;
        const QByteArrayView mine(lower + req.hostBegin + reg, hostLength - reg);
        const QByteArrayView theirs(page.host.constData() + page.registrable, page.host.size() - page.registrable);
        req.thirdParty = mine != theirs;
    }

    req.keys.clear();
    qsizetype i = 0;
    while (i < url.size() && req.keys.size() < MaxUrlTokens) {
        if (!isTokenChar(lower[i])) {
            ++i;
            continue;
        }
        const qsizetype b = i;
        while (i < url.size() && isTokenChar(lower[i]))
            ++i;
        req.keys.append(tokenKey(lower + b, i - b));
    }
    for (qsizetype level = 0; level < page.levels.size(); ++level) {
        req.keys.append(domainKey(page.levels[level]));
        if (page.entities[level])
            req.keys.append(domainKey(page.entities[level]));
    }
    std::sort(req.keys.begin(), req.keys.end());
    req.keys.erase(std::unique(req.keys.begin(), req.keys.end()), req.keys.end());
    req.utf16.clear();
}

QByteArray FilterEngine::encodedUrl(const QUrl &url)
{
    QByteArray encoded;
    encodedUrl(url, encoded);
    return encoded;
}

void FilterEngine::encodedUrl(const QUrl &url, QByteArray &into)
{
    // What QUrl::toEncoded() gives (fully encoded text is ASCII), written
    // into the caller's buffer with '|' and '^' put back as Chromium sends them.
    const QString text = url.toString(QUrl::FullyEncoded);
    into.resize(text.size());
    char *out = into.data();
    const char16_t *in = reinterpret_cast<const char16_t *>(text.utf16());
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (in[i] == u'%' && i + 2 < text.size() && (in[i + 1] == u'7' || in[i + 1] == u'5')) {
            const char16_t a = in[i + 1], b = in[i + 2];
            if (a == u'7' && b == u'C') {
                out[n++] = '|';
                i += 2;
                continue;
            }
            if (a == u'5' && b == u'E') {
                out[n++] = '^';
                i += 2;
                continue;
            }
        }
        out[n++] = char(in[i]);
    }
    into.truncate(n);
}

FilterEngine::Page FilterEngine::page(const QUrl &pageUrl) const
{
    return page(QByteArrayView(encodedUrl(pageUrl)));
}

FilterEngine::Page FilterEngine::page(QByteArrayView encodedUrl) const
{
    Page p;
    p.url = encodedUrl.toByteArray();
    qsizetype b = 0, e = 0;
    if (!hostSpan(encodedUrl, &b, &e))
        return p;
    p.host.resize(e - b);
    for (qsizetype i = b; i < e; ++i)
        p.host[i - b] = lowerAscii(encodedUrl[i]);
    while (p.host.endsWith('.'))
        p.host.chop(1);
    if (p.host.isEmpty())
        return p;
    p.registrable = PublicSuffix::registrableOffset(p.host.constData(), p.host.size());
    p.suffix = PublicSuffix::suffixOffset(p.host.constData(), p.host.size());
    const bool ip = PublicSuffix::isIpAddress(p.host);
    for (qsizetype i = 0; i < p.host.size();) {
        p.levels.append(domainHash(QByteArrayView(p.host).sliced(i)));
        quint64 entity = 0;
        if (!ip && p.suffix > i + 1 && p.suffix < p.host.size()) {
            QByteArray name = p.host.mid(i, p.suffix - 1 - i);
            name += ".*";
            entity = domainHash(name);
        }
        p.entities.append(entity);
        if (ip)
            break;
        const qsizetype dot = p.host.indexOf('.', i);
        if (dot < 0)
            break;
        i = dot + 1;
    }

    if (!isWebUrl(encodedUrl) || !m_exceptions)
        return p;
    Request req;
    prepare(req, encodedUrl, p, FilterRule::Document);
    p.documentRule = findIn(*m_exceptions, req);
    req.type = FilterRule::ElemHide;
    p.elemHideRule = findIn(*m_exceptions, req);
    req.type = FilterRule::GenericHide;
    p.genericHideRule = findIn(*m_exceptions, req);
    return p;
}

FilterEngine::Decision FilterEngine::decide(QByteArrayView url, const Page &page, quint32 type) const
{
    Decision d;
    if (page.documentAllowed()) {
        d.documentAllowed = true;
        d.rule = page.documentRule;
        return d;
    }
    if (!isWebUrl(url) || !m_blocking)
        return d;
    Request req;
    prepare(req, url, page, type);
    d.rule = findIn(*m_important, req);
    if (d.rule >= 0) {
        d.blocked = true;
        return d;
    }
    const qint32 block = findIn(*m_blocking, req);
    if (block < 0)
        return d;
    const qint32 exception = findIn(*m_exceptions, req);
    d.blocked = exception < 0;
    d.rule = d.blocked ? block : exception;
    return d;
}

FilterEngine::Decision FilterEngine::decide(const QUrl &url, const QUrl &pageUrl, quint32 type) const
{
    const QByteArray encoded = encodedUrl(url);
    const Page p = page(type == FilterRule::Document ? QByteArrayView(encoded) : QByteArrayView(encodedUrl(pageUrl)));
    return decide(encoded, p, type);
}

qint32 FilterEngine::findException(QByteArrayView url, const Page &page, quint32 type) const
{
    if (page.documentAllowed())
        return page.documentRule;
    if (!isWebUrl(url) || !m_exceptions)
        return -1;
    Request req;
    prepare(req, url, page, type);
    return findIn(*m_exceptions, req);
}

// ---- element hiding ------------------------------------------------------------------

QString FilterEngine::styleSheet(const Page &page) const
{
    const Hiding h = hiding(page);
    if (!h.generic)
        return h.extra;
    // Built when asked (the checker, tests): pages get the generic part as
    // the table and the complex sheet, so the engine keeps no copy of it.
    QSet<QByteArray> skip;
    for (const QString &selector : h.excluded)
        skip.insert(selector.toUtf8());
    QList<QByteArrayView> generic;
    for (const HideRule &rule : m_hides) {
        const QByteArrayView selector(m_selectors.constData() + rule.selectorOffset, rule.selectorLength);
        if (!rule.exception && rule.domainsCount == 0 && !m_genericExceptions.contains(selector.toByteArray())
            && !skip.contains(selector.toByteArray()))
            generic.append(selector);
    }
    QString sheet;
    appendSheet(sheet, generic);
    return sheet + h.extra;
}

FilterEngine::Hiding FilterEngine::hiding(const Page &page) const
{
    Hiding out;
    if (page.documentAllowed() || page.elemHideRule >= 0)
        return out;
    const auto selectorOf = [this](const HideRule &h) {
        return QByteArrayView(m_selectors.constData() + h.selectorOffset, h.selectorLength);
    };
    QSet<qint32> seen;
    QList<qint32> specific;
    QSet<QByteArray> pageExceptions;
    for (qsizetype level = 0; level < page.levels.size(); ++level) {
        for (const quint64 h : {page.levels[level], page.entities[level]}) {
            if (h == 0)
                continue;
            const auto it = m_hideByDomain.constFind(h);
            if (it == m_hideByDomain.cend())
                continue;
            for (const qint32 id : *it) {
                if (seen.contains(id))
                    continue;
                seen.insert(id);
                const HideRule &rule = m_hides[size_t(id)];
                if (!domainsMatch(rule.domainsOffset, rule.domainsCount, page))
                    continue;
                if (rule.exception)
                    pageExceptions.insert(selectorOf(rule).toByteArray());
                else
                    specific.append(id);
            }
        }
    }
    const auto hidden = [&](QByteArrayView selector) {
        const QByteArray key = selector.toByteArray();
        return !pageExceptions.contains(key) && !m_genericExceptions.contains(key);
    };

    QList<QByteArrayView> extra;
    if (page.genericHideRule < 0) {
        out.generic = m_hasGeneric;
        if (out.generic) {
            for (const QByteArray &selector : std::as_const(pageExceptions))
                out.excluded.append(QString::fromUtf8(selector));
            out.excluded.sort();
        }
        for (const qint32 id : m_genericWithExclusions) {
            const HideRule &rule = m_hides[size_t(id)];
            if (domainsMatch(rule.domainsOffset, rule.domainsCount, page) && hidden(selectorOf(rule)))
                extra.append(selectorOf(rule));
        }
    }
    std::sort(specific.begin(), specific.end());
    for (const qint32 id : std::as_const(specific)) {
        if (hidden(selectorOf(m_hides[size_t(id)])))
            extra.append(selectorOf(m_hides[size_t(id)]));
    }
    appendSheet(out.extra, extra);
    return out;
}

// ---- reporting -------------------------------------------------------------------------

QString FilterEngine::ruleText(qint32 rule) const
{
    if (rule < 0 || size_t(rule) >= m_rules.size())
        return {};
    const NetRule &r = m_rules[size_t(rule)];
    return QString::fromUtf8(m_text.constData() + r.textOffset, r.textLength);
}

QString FilterEngine::ruleList(qint32 rule) const
{
    if (rule < 0 || size_t(rule) >= m_rules.size())
        return {};
    return m_listNames.value(m_rules[size_t(rule)].list);
}

qsizetype FilterEngine::memoryUsage() const
{
    qsizetype bytes = m_text.capacity() + m_patterns.capacity() + m_selectors.capacity()
        + m_rules.heapBytes() + m_ruleKeys.heapBytes() + m_domains.heapBytes() + m_hides.heapBytes()
        + m_genericComplexSheet.capacity() * 2 + m_genericTable.capacity()
        + m_genericComplex.capacity() * qsizetype(sizeof(qint32));
    if (m_storage)
        bytes += m_storage->heap.size();
    for (const Index *index : {m_important.get(), m_blocking.get(), m_exceptions.get()})
        bytes += index ? index->bytes() : 0;
    for (auto it = m_hideByDomain.cbegin(); it != m_hideByDomain.cend(); ++it)
        bytes += 32 + it->capacity() * qsizetype(sizeof(qint32));
    for (const QByteArray &s : m_genericExceptions)
        bytes += 32 + s.capacity();
    return bytes;
}

// ---- request types ---------------------------------------------------------------------

quint32 FilterEngine::typeFromResourceType(int resourceType)
{
    // QWebEngineUrlRequestInfo::ResourceType values, mapped as Chromium's
    // webRequest API reports them to blockers.
    switch (resourceType) {
    case 0:  // MainFrame
    case 19: // NavigationPreloadMainFrame
        return FilterRule::Document;
    case 1:  // SubFrame
    case 20: // NavigationPreloadSubFrame
        return FilterRule::Subdocument;
    case 2:
        return FilterRule::Stylesheet;
    case 3:  // Script
    case 9:  // Worker
    case 10: // SharedWorker
    case 15: // ServiceWorker
        return FilterRule::Script;
    case 4:  // Image
    case 12: // Favicon
        return FilterRule::Image;
    case 5:
        return FilterRule::Font;
    case 7:  // Object
    case 17: // PluginResource
        return FilterRule::Object;
    case 8:
        return FilterRule::Media;
    case 13:
        return FilterRule::XmlHttpRequest;
    case 14:
        return FilterRule::Ping;
    case 254:
        return FilterRule::WebSocket;
    default: // SubResource, Prefetch, CspReport, Unknown
        return FilterRule::Other;
    }
}

quint32 FilterEngine::typeFromName(QStringView name)
{
    struct Entry {
        const char16_t *name;
        quint32 type;
    };
    static constexpr Entry names[] = {
        {u"main_frame", FilterRule::Document},   {u"sub_frame", FilterRule::Subdocument},
        {u"stylesheet", FilterRule::Stylesheet}, {u"script", FilterRule::Script},
        {u"image", FilterRule::Image},           {u"font", FilterRule::Font},
        {u"object", FilterRule::Object},         {u"xmlhttprequest", FilterRule::XmlHttpRequest},
        {u"ping", FilterRule::Ping},             {u"media", FilterRule::Media},
        {u"websocket", FilterRule::WebSocket},   {u"other", FilterRule::Other},
    };
    for (const Entry &e : names) {
        if (name == QStringView(e.name))
            return e.type;
    }
    return 0;
}

static_assert(sizeof(FilterEngine::Decision) <= 16, "a decision is returned by value");
