#pragma once

#include "FilterRule.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVarLengthArray>

#include <memory>
#include <vector>

// Compiled Adblock Plus filter lists (EasyList, EasyPrivacy, the user's own):
// decides network requests and builds a page's element hiding style sheet.
//
// An engine is immutable once built, so one instance can be shared by every
// tab and every thread and swapped as a whole when the lists change. Rules
// are indexed by one token of their pattern (or by a page domain when the
// pattern has none); a request looks up the tokens of its URL, so the cost
// of a decision follows the URL, not the number of rules. decide() does no
// heap allocation for URLs under 2 KiB.
class FilterEngine
{
public:
    // One list to compile: its name (shown with the rules that decided) and text.
    struct Source {
        QString name;
        QByteArray text;
    };

    struct ListStats {
        QString name;
        int networkRules = 0;
        int hidingRules = 0;
        int skipped = 0; // lines with syntax or options we don't implement
        int invalid = 0;
    };

    // A page as the rules see it, worked out once per document and reused for
    // each of its requests: host, registrable domain, and whether the lists
    // allow-list the page (@@...$document) or its element hiding.
    struct Page {
        QByteArray url; // encoded
        QByteArray host;
        qsizetype registrable = 0; // offset of the registrable domain in host
        qsizetype suffix = 0;      // offset of the public suffix in host
        // Per label level of the host, most specific first: the domain's hash
        // and, above the public suffix, its entity ("name.*") hash (0 below).
        QVarLengthArray<quint64, 8> levels;
        QVarLengthArray<quint64, 8> entities;
        qint32 documentRule = -1;    // @@...$document that allow-lists the page
        qint32 elemHideRule = -1;    // @@...$elemhide
        qint32 genericHideRule = -1; // @@...$generichide
        bool documentAllowed() const { return documentRule >= 0; }
    };

    struct Decision {
        bool blocked = false;
        bool documentAllowed = false; // the page is allow-listed; nothing on it is blocked
        qint32 rule = -1;             // the blocking rule, or the exception that allowed
        bool byException() const { return !blocked && rule >= 0; }
    };

    static constexpr quint32 FormatVersion = 5;

    FilterEngine();
    ~FilterEngine();
    FilterEngine(const FilterEngine &) = delete;
    FilterEngine &operator=(const FilterEngine &) = delete;

    // Compiles the lists. Never fails: lines it can't use are counted in stats().
    static std::shared_ptr<const FilterEngine> build(const QList<Source> &sources);

    // The compiled form for the disk cache, and back, tagged with a key of the
    // sources it was built from. fromBytes returns null for anything it does
    // not fully trust (another key or format version, damage, a hostile
    // file); it never crashes on such input.
    QByteArray toBytes(const QByteArray &sourceKey) const;
    static std::shared_ptr<const FilterEngine> fromBytes(const QByteArray &bytes, const QByteArray &sourceKey);
    // A fast 64-bit checksum: finds damage and changes, resists no attacker.
    static quint64 checksum(QByteArrayView data, quint64 seed = 0);
    // The same from a cache file, read in place: the tables stay in the
    // file's pages, which the kernel keeps or drops like any cached file, and
    // only the pages decisions read are resident. The file must not be
    // truncated while mapped: replace it by renaming (StoreFile does).
    static std::shared_ptr<const FilterEngine> fromFile(const QString &path, const QByteArray &sourceKey);

    // Request types: the bit of FilterRule::Type for a value of
    // QWebEngineUrlRequestInfo::ResourceType, and for a webRequest type name
    // ("main_frame", "script", ...; 0 for an unknown name).
    static quint32 typeFromResourceType(int resourceType);
    static quint32 typeFromName(QStringView name);

    // A QUrl in the form the rules are matched against: encoded as the
    // browser sends it ('|' and '^' stay literal, as Chromium keeps them).
    static QByteArray encodedUrl(const QUrl &url);
    // The same into a buffer the caller keeps, so that a caller deciding
    // request after request allocates once for the address's text only.
    static void encodedUrl(const QUrl &url, QByteArray &into);

    Page page(const QUrl &pageUrl) const;
    Page page(QByteArrayView encodedUrl) const;

    // The decision for one request of a page. A main-frame request is its own
    // page: pass page(url) for it.
    Decision decide(QByteArrayView encodedUrl, const Page &page, quint32 type) const;
    Decision decide(const QUrl &url, const QUrl &pageUrl, quint32 type) const;
    // The exception that would allow this request if something blocked it
    // (-1 if none): lets the lists' @@ rules override other blockers.
    qint32 findException(QByteArrayView encodedUrl, const Page &page, quint32 type) const;

    // The style sheet hiding the lists' elements on the page: empty when the
    // page is allow-listed or its hiding is switched off by an exception.
    QString styleSheet(const Page &page) const;

    // The same sheet in the parts the browser sends a page: whether the
    // generic selectors apply (the ones every page shares, minus `excluded`,
    // the selectors the page's own exceptions keep), and what the page adds
    // (its domain's rules).
    struct Hiding {
        bool generic = false;
        QStringList excluded;
        QString extra;
        bool operator==(const Hiding &other) const
        {
            return generic == other.generic && excluded == other.excluded && extra == other.extra;
        }
        bool operator!=(const Hiding &other) const { return !(*this == other); }
    };
    Hiding hiding(const Page &page) const;

    // Generic selectors that name one id or class ("#banner", ".ad-slot"),
    // the great majority, go to pages as a table of their hashes: a page
    // looks up the ids and classes it has and hides what the table holds,
    // instead of every page parsing thousands of selectors. The table is
    // the sorted pairs (a, b) of selectorHash(), little-endian 32-bit words.
    QByteArray genericSelectorTable() const { return m_genericTable; }
    // The other generic selectors (attributes, combinators, pseudo-classes)
    // as a style sheet, without those `excluded` names.
    QString genericComplexSheet(const QStringList &excluded = {}) const;
    // Whether a selector is one id or one class with a plain CSS name.
    static bool isSimpleSelector(QByteArrayView selector);
    // A 48-bit hash of "#id" or ".class" in two 24-bit halves, the same as
    // the page's script computes over the UTF-16 code units.
    static void selectorHash(QStringView key, quint32 *a, quint32 *b);

    // The rule's text as written, and the name of the list it came from.
    QString ruleText(qint32 rule) const;
    QString ruleList(qint32 rule) const;

    const QList<ListStats> &stats() const { return m_stats; }
    int networkRuleCount() const { return int(m_rules.size()); }
    int hidingRuleCount() const { return int(m_hides.size()); }
    // Heap bytes held by the engine's tables (not the cache file's pages).
    qsizetype memoryUsage() const;

    // Pure matching helpers, public for the tests and the fuzzer.
    static bool isSeparator(char c);
    // Whether a glob pattern (lower case, '*' and '^' as in the lists)
    // matches url from exactly position at (anchored) or anywhere from there.
    static bool globMatch(QByteArrayView pattern, QByteArrayView url, qsizetype at, bool anchoredStart,
                          bool anchoredEnd);

private:
    struct NetRule {
        enum Flag : quint16 {
            Exception = 1 << 0,
            Important = 1 << 1,
            MatchCase = 1 << 2,
            Regex = 1 << 3,
            HostAnchor = 1 << 4,
            StartAnchor = 1 << 5,
            EndAnchor = 1 << 6,
            ThirdParty = 1 << 7,
            FirstParty = 1 << 8,
            AllFlags = (1 << 9) - 1,
        };
        quint32 textOffset;
        quint32 textLength;
        quint32 patternOffset;
        quint32 patternLength;
        quint32 types;
        quint32 domainsOffset;
        quint16 domainsCount;
        quint16 flags;
        quint16 list;
        quint16 reserved;
    };

    struct DomainRef {
        quint64 hash;    // of the domain, or of "name.*" for an entity
        quint32 exclude; // 1 for ~domain
        quint32 reserved;
    };

    struct HideRule {
        quint32 selectorOffset;
        quint32 selectorLength;
        quint32 domainsOffset;
        quint16 domainsCount;
        quint16 exception;
    };

    // Rows owned while the lists are compiled, or read in place from a
    // loaded cache.
    template <typename T>
    struct Table {
        std::vector<T> rows;
        const T *view = nullptr;
        size_t viewSize = 0;
        const T *data() const { return view ? view : rows.data(); }
        size_t size() const { return view ? viewSize : rows.size(); }
        const T &operator[](size_t i) const { return data()[i]; }
        const T *begin() const { return data(); }
        const T *end() const { return data() + size(); }
        qsizetype heapBytes() const { return qsizetype(rows.capacity() * sizeof(T)); }
    };

    struct Index;
    struct Request;
    struct Storage;

    void add(const FilterRule &rule, const QByteArray &text, quint16 list);
    void cancel(const QSet<QByteArray> &texts);
    static std::shared_ptr<const FilterEngine> load(std::shared_ptr<const Storage> storage, const QByteArray &sourceKey);
    bool finalize();
    bool validate() const;
    void chooseKeys();
    void buildIndex();
    void buildHiding();

    void prepare(Request &req, QByteArrayView url, const Page &page, quint32 type) const;
    qint32 findIn(const Index &index, const Request &req) const;
    bool ruleMatches(const NetRule &rule, const Request &req) const;
    bool domainsMatch(quint32 offset, quint16 count, const Page &page) const;
    QByteArrayView patternOf(const NetRule &rule) const;

    // Serialized tables; views into m_storage when loaded from a cache.
    std::shared_ptr<const Storage> m_storage;
    QByteArray m_text;      // rule texts as written (UTF-8)
    QByteArray m_patterns;  // network patterns
    QByteArray m_selectors; // element hiding selectors
    QStringList m_listNames;
    Table<NetRule> m_rules;
    Table<DomainRef> m_domains;
    Table<HideRule> m_hides;
    // Per network rule: its token key (odd), or one of these.
    static constexpr quint32 NoKey = 0;
    static constexpr quint32 PageDomainKeys = 2;
    Table<quint32> m_ruleKeys;
    QList<ListStats> m_stats;

    // Derived when built or loaded.
    std::unique_ptr<Index> m_important;
    std::unique_ptr<Index> m_blocking;
    std::unique_ptr<Index> m_exceptions;
    QHash<qint32, QRegularExpression> m_regexes;
    QHash<quint64, QList<qint32>> m_hideByDomain; // include domain -> hiding rules and exceptions
    QList<qint32> m_genericWithExclusions;        // ~a.com##sel
    QSet<QByteArray> m_genericExceptions;         // #@#sel
    bool m_hasGeneric = false; // some generic selector applies
    QByteArray m_genericTable;
    QString m_genericComplexSheet;
    QList<qint32> m_genericComplex; // hiding rules of the complex sheet
};
