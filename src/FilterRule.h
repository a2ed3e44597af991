#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// One line of a filter list in the Adblock Plus syntax, parsed: a network
// rule, an element hiding rule, or why the line is not used. Pure parsing, no
// matching; FilterEngine compiles the parsed rules. A line is never read more
// widely than it is written: an option or syntax we don't implement skips
// the whole line.
class FilterRule
{
public:
    enum class Kind { Empty, Comment, Network, ElementHide, Skipped, Invalid };

    // Request types as bits, so a rule's types are one mask.
    enum Type : quint32 {
        Other = 1u << 0,
        Script = 1u << 1,
        Image = 1u << 2,
        Stylesheet = 1u << 3,
        Object = 1u << 4,
        Subdocument = 1u << 5,
        Document = 1u << 6, // the page itself (main frame)
        XmlHttpRequest = 1u << 7,
        Ping = 1u << 8,
        Media = 1u << 9,
        Font = 1u << 10,
        WebSocket = 1u << 11,
        Popup = 1u << 12, // new windows: no request the interceptor sees has it
        // Page-level switches, only on exceptions, matched against the page.
        ElemHide = 1u << 13,
        GenericHide = 1u << 14,
    };
    // What a rule without type options applies to: every request type but
    // the page itself and pop-ups, as in Adblock Plus.
    static constexpr quint32 DefaultTypes = Other | Script | Image | Stylesheet | Object | Subdocument
        | XmlHttpRequest | Ping | Media | Font | WebSocket;

    enum class Party : quint8 { Any, ThirdOnly, FirstOnly };

    // Longest line looked at; longer ones (a hostile list) are skipped unread.
    static constexpr int MaxLineLength = 64 * 1024;
    // Longest /regex/ accepted, and the PCRE2 step limit it runs under.
    static constexpr int MaxRegexLength = 512;

    Kind kind = Kind::Empty;
    QString reason; // Skipped / Invalid: why, for the user's own rules

    // Network rules.
    bool exception = false;
    bool important = false;
    bool matchCase = false;
    bool regex = false;
    bool badfilter = false;   // $badfilter: cancels the rule written the same without it
    bool hostAnchor = false;  // ||
    bool startAnchor = false; // |...
    bool endAnchor = false;   // ...|
    QString pattern;          // between the anchors; lower case unless matchCase; the regex source for regex rules
    quint32 types = DefaultTypes;
    Party party = Party::Any;

    // Both kinds: domain=a.com|~b.a.com or a.com,~b.a.com##. Lower case, ASCII
    // (IDN in punycode); an entity "example.*" is kept with its ".*".
    QStringList includeDomains;
    QStringList excludeDomains;

    // Element hiding.
    bool hideException = false; // #@#
    QString selector;

    static FilterRule parse(QStringView line);

    // Whether a regular expression source is cheap and safe enough to run on
    // every request: bounded length, no back-references, no nested
    // quantifiers, no PCRE verbs or options of its own.
    static bool isSafeRegex(QStringView source, QString *why = nullptr);
    // Whether a CSS selector from a list can go into a style sheet without
    // changing anything but what it selects (no braces, balanced brackets
    // and quotes, no comments).
    static bool isSafeSelector(QStringView selector);

private:
    static FilterRule parseNetwork(QStringView line);
    static FilterRule parseElementHide(QStringView domains, QStringView selector, bool exception);
    static bool parseDomainList(QStringView text, QChar separator, QStringList *include, QStringList *exclude);
};
