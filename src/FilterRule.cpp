#include "FilterRule.h"

#include <QUrl>
#include <QVarLengthArray>

namespace {

bool isSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

QStringView trimmed(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isSpace(s[b]))
        ++b;
    while (e > b && isSpace(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

// Characters a domain list before "##" may hold; anything else (a slash, a
// pipe, a dollar...) means the '#' belongs to a network rule's address.
bool isDomainListChar(QChar c)
{
    if (c.unicode() >= 0x80)
        return true; // IDN, converted later
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'.'
        || c == u',' || c == u'~' || c == u'-' || c == u'_' || c == u'*';
}

// uBO and AdGuard selector extensions that are not CSS; such rules are
// skipped rather than injected as a selector that means something else.
constexpr const char16_t *ProceduralMarkers[] = {
    u":-abp-", u":has-text(", u":contains(", u":xpath(", u":style(", u":remove(", u":matches-css",
    u":upward(", u":min-text-length(", u":watch-attr(", u":matches-path(", u":others(", u":if(",
    u":if-not(", u":nth-ancestor(", u":remove-attr(", u":remove-class(", u":matches-attr(",
    u":matches-media(", u":matches-prop", u":shadow(",
};

// Percent-encodes what the browser would (non-ASCII, as UTF-8), so a rule
// written with a non-ASCII path can meet the encoded request URL.
QString encodeNonAscii(QStringView text, bool upperHex)
{
    QString out;
    const QByteArray utf8 = text.toUtf8();
    const char *hex = upperHex ? "0123456789ABCDEF" : "0123456789abcdef";
    for (const char ch : utf8) {
        const uchar c = uchar(ch);
        if (c < 0x80) {
            out += QLatin1Char(char(c));
        } else {
            out += QLatin1Char('%');
            out += QLatin1Char(hex[c >> 4]);
            out += QLatin1Char(hex[c & 15]);
        }
    }
    return out;
}

bool hasNonAscii(QStringView s)
{
    for (QChar c : s)
        if (c.unicode() >= 0x80)
            return true;
    return false;
}

// One domain of a list in the form the engine compares: lower case, IDN in
// punycode; "name.*" (an entity) keeps its suffix. Empty when invalid.
QString normaliseDomain(QStringView entry)
{
    QString d = entry.toString().toLower();
    bool entity = false;
    if (d.endsWith(QLatin1String(".*"))) {
        entity = true;
        d.chop(2);
    }
    if (d.startsWith(u'.'))
        d.remove(0, 1);
    if (d.isEmpty())
        return {};
    // An IPv6 address, compared as hosts are: without brackets.
    if (!entity && d.startsWith(u'[') && d.endsWith(u']')) {
        d = d.mid(1, d.size() - 2);
        for (QChar c : std::as_const(d)) {
            if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || c == u':' || c == u'.'))
                return {};
        }
        return d.isEmpty() ? QString() : d;
    }
    if (hasNonAscii(d)) {
        d = QString::fromLatin1(QUrl::toAce(d));
        if (d.isEmpty())
            return {};
    }
    for (QChar c : std::as_const(d)) {
        if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'.' || c == u'-' || c == u'_'))
            return {};
    }
    if (d.startsWith(u'.') || d.endsWith(u'.') || d.contains(QLatin1String("..")))
        return {};
    return entity ? d + QLatin1String(".*") : d;
}

FilterRule skipped(const QString &why)
{
    FilterRule r;
    r.kind = FilterRule::Kind::Skipped;
    r.reason = why;
    return r;
}

FilterRule invalid(const QString &why)
{
    FilterRule r;
    r.kind = FilterRule::Kind::Invalid;
    r.reason = why;
    return r;
}

quint32 typeForName(QStringView name)
{
    struct Entry {
        const char16_t *name;
        quint32 type;
    };
    // Aliases are the ones lists use for exactly the same type.
    static constexpr Entry names[] = {
        {u"script", FilterRule::Script},
        {u"image", FilterRule::Image},
        {u"stylesheet", FilterRule::Stylesheet},
        {u"css", FilterRule::Stylesheet},
        {u"object", FilterRule::Object},
        {u"subdocument", FilterRule::Subdocument},
        {u"frame", FilterRule::Subdocument},
        {u"document", FilterRule::Document},
        {u"doc", FilterRule::Document},
        {u"xmlhttprequest", FilterRule::XmlHttpRequest},
        {u"xhr", FilterRule::XmlHttpRequest},
        {u"ping", FilterRule::Ping},
        {u"media", FilterRule::Media},
        {u"font", FilterRule::Font},
        {u"websocket", FilterRule::WebSocket},
        {u"other", FilterRule::Other},
        {u"popup", FilterRule::Popup},
        {u"elemhide", FilterRule::ElemHide},
        {u"ehide", FilterRule::ElemHide},
        {u"generichide", FilterRule::GenericHide},
        {u"ghide", FilterRule::GenericHide},
    };
    for (const Entry &e : names) {
        if (name == QStringView(e.name))
            return e.type;
    }
    return 0;
}

} // namespace

FilterRule FilterRule::parse(QStringView raw)
{
    if (raw.size() > MaxLineLength)
        return skipped(QStringLiteral("line too long"));
    const QStringView line = trimmed(raw);
    if (line.isEmpty())
        return {};
    if (line.startsWith(u'!') || line.startsWith(u'[')) {
        FilterRule r;
        r.kind = Kind::Comment;
        return r;
    }
    for (QChar c : line) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() == 0xfffd)
            return invalid(QStringLiteral("control character or invalid text"));
    }

    // Element hiding: "domains##selector" and its relatives. The first '#'
    // that starts a separator after a plausible domain list decides.
    for (qsizetype i = 0; i + 1 < line.size(); ++i) {
        if (line[i] != u'#') {
            if (!isDomainListChar(line[i]))
                break;
            continue;
        }
        const QStringView rest = line.mid(i);
        const QStringView domains = line.left(i);
        if (rest.startsWith(u"##+js(") || rest.startsWith(u"##^"))
            return skipped(QStringLiteral("scriptlet or HTML filter"));
        if (rest.startsWith(u"##"))
            return parseElementHide(domains, rest.mid(2), false);
        if (rest.startsWith(u"#@#"))
            return parseElementHide(domains, rest.mid(3), true);
        for (const char16_t *ext : {u"#?#", u"#@?#", u"#$#", u"#@$#", u"#%#", u"#@%#", u"#$?#", u"#@$?#"}) {
            if (rest.startsWith(QStringView(ext)))
                return skipped(QStringLiteral("extended element hiding syntax"));
        }
        break;
    }
    if (line.contains(u"$$") || line.contains(u"$@$"))
        return skipped(QStringLiteral("HTML filter"));
    return parseNetwork(line);
}

bool FilterRule::parseDomainList(QStringView text, QChar separator, QStringList *include, QStringList *exclude)
{
    for (QStringView entry : text.split(separator)) {
        entry = trimmed(entry);
        if (entry.isEmpty())
            continue;
        const bool negated = entry.startsWith(u'~');
        const QString d = normaliseDomain(negated ? entry.mid(1) : entry);
        if (d.isEmpty())
            return false;
        (negated ? exclude : include)->append(d);
    }
    return !include->isEmpty() || !exclude->isEmpty();
}

FilterRule FilterRule::parseElementHide(QStringView domains, QStringView selector, bool exception)
{
    FilterRule r;
    selector = trimmed(selector);
    if (selector.isEmpty())
        return invalid(QStringLiteral("empty selector"));
    for (const char16_t *marker : ProceduralMarkers) {
        if (selector.contains(QStringView(marker), Qt::CaseInsensitive))
            return skipped(QStringLiteral("procedural selector"));
    }
    if (!isSafeSelector(selector))
        return invalid(QStringLiteral("selector is not plain CSS"));
    if (!domains.isEmpty() && !parseDomainList(domains, u',', &r.includeDomains, &r.excludeDomains))
        return invalid(QStringLiteral("bad domain list"));
    r.kind = Kind::ElementHide;
    r.hideException = exception;
    r.selector = selector.toString();
    return r;
}

FilterRule FilterRule::parseNetwork(QStringView line)
{
    FilterRule r;
    QStringView body = line;
    if (body.startsWith(u"@@")) {
        r.exception = true;
        body = body.mid(2);
    }

    // Options follow the last '$', unless that '$' is the end anchor of a
    // /regex/ ("/ads$/": a '/' right after it).
    QStringView options;
    bool hasOptions = false;
    const qsizetype dollar = body.lastIndexOf(u'$');
    if (dollar >= 0 && !(dollar + 1 < body.size() && body[dollar + 1] == u'/')) {
        hasOptions = true;
        options = body.mid(dollar + 1);
        body = body.left(dollar);
    }

    quint32 positive = 0, negative = 0;
    bool typed = false;
    const QList<QStringView> optionList = hasOptions ? options.split(u',') : QList<QStringView>();
    for (QStringView opt : optionList) {
        opt = trimmed(opt);
        if (opt.isEmpty())
            return invalid(QStringLiteral("empty option"));
        const qsizetype eq = opt.indexOf(u'=');
        const QString name = (eq >= 0 ? opt.left(eq) : opt).toString().toLower();
        const QStringView value = eq >= 0 ? opt.mid(eq + 1) : QStringView();
        const bool negated = name.startsWith(u'~');
        const QStringView bare = negated ? QStringView(name).mid(1) : QStringView(name);

        if (name == u"domain" || name == u"from") {
            if (!parseDomainList(value, u'|', &r.includeDomains, &r.excludeDomains))
                return invalid(QStringLiteral("bad domain list"));
            continue;
        }
        if (eq >= 0)
            return skipped(QStringLiteral("unsupported option ") + name);
        if (bare == u"third-party" || bare == u"3p" || bare == u"first-party" || bare == u"1p") {
            const bool third = (bare == u"third-party" || bare == u"3p") != negated;
            r.party = third ? Party::ThirdOnly : Party::FirstOnly;
            continue;
        }
        if (!negated && name == u"match-case") {
            r.matchCase = true;
            continue;
        }
        if (!negated && name == u"important") {
            r.important = true;
            continue;
        }
        if (!negated && name == u"badfilter") {
            r.badfilter = true;
            continue;
        }
        const quint32 type = typeForName(bare);
        if (type == 0)
            return skipped(QStringLiteral("unsupported option ") + name);
        if ((type & (ElemHide | GenericHide)) && (!r.exception || negated))
            return invalid(QStringLiteral("%1 belongs on exceptions").arg(name));
        typed = true;
        (negated ? negative : positive) |= type;
    }
    if (r.important && r.exception)
        return invalid(QStringLiteral("important on an exception"));
    if (typed) {
        r.types = (positive ? positive : DefaultTypes) & ~negative;
        if (r.types == 0)
            return skipped(QStringLiteral("no request type left"));
    }

    if (body.size() >= 2 && body.startsWith(u'/') && body.endsWith(u'/')) {
        const QStringView source = body.mid(1, body.size() - 2);
        QString why;
        if (!isSafeRegex(source, &why))
            return skipped(why);
        r.regex = true;
        r.pattern = source.toString();
    } else {
        if (body.startsWith(u"||")) {
            r.hostAnchor = true;
            body = body.mid(2);
        } else if (body.startsWith(u'|')) {
            r.startAnchor = true;
            body = body.mid(1);
        }
        if (body.endsWith(u'|')) {
            r.endAnchor = true;
            body.chop(1);
        }
        // Stars at an unanchored end change nothing.
        while (!r.hostAnchor && !r.startAnchor && body.startsWith(u'*'))
            body = body.mid(1);
        while (!r.endAnchor && body.endsWith(u'*'))
            body.chop(1);
        QString pattern = body.toString();
        if (hasNonAscii(pattern)) {
            if (r.hostAnchor) {
                qsizetype hostEnd = 0;
                while (hostEnd < pattern.size() && !QStringLiteral("/^*?:|").contains(pattern[hostEnd]))
                    ++hostEnd;
                const QByteArray ace = QUrl::toAce(pattern.left(hostEnd));
                if (ace.isEmpty() && hostEnd > 0)
                    return invalid(QStringLiteral("bad host name"));
                pattern = QString::fromLatin1(ace) + pattern.mid(hostEnd);
            }
            pattern = encodeNonAscii(pattern, r.matchCase);
        }
        r.pattern = r.matchCase ? pattern : pattern.toLower();
        bool onlyStars = true;
        for (QChar c : std::as_const(r.pattern))
            onlyStars = onlyStars && c == u'*';
        // A rule for every address needs a page or a request type to be
        // limited to ("$ping,third-party" is one of EasyPrivacy's).
        if (onlyStars && r.includeDomains.isEmpty() && (r.types & DefaultTypes) == DefaultTypes)
            return skipped(QStringLiteral("matches every address"));
    }
    r.kind = Kind::Network;
    return r;
}

bool FilterRule::isSafeRegex(QStringView s, QString *why)
{
    const auto fail = [why](const char *text) {
        if (why)
            *why = QString::fromLatin1(text);
        return false;
    };
    if (s.isEmpty())
        return fail("empty regular expression");
    if (s.size() > MaxRegexLength)
        return fail("regular expression too long");
    // Per open group: whether it holds an unbounded quantifier or an alternation.
    struct Group {
        bool risky = false;
    };
    QVarLengthArray<Group, 16> groups;
    groups.append(Group());
    bool lastWasGroupRisky = false; // the atom just closed was a risky group
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        bool closedRisky = false;
        if (c == u'\\') {
            if (i + 1 >= s.size())
                return fail("regular expression ends in a backslash");
            const QChar n = s[++i];
            if ((n >= u'1' && n <= u'9') || n == u'g' || n == u'k')
                return fail("back-reference in regular expression");
        } else if (c == u'[') {
            // A class: skip to its end; nothing inside is special for us.
            ++i;
            if (i < s.size() && s[i] == u'^')
                ++i;
            if (i < s.size() && s[i] == u']')
                ++i;
            while (i < s.size() && s[i] != u']') {
                if (s[i] == u'\\')
                    ++i;
                ++i;
            }
            if (i >= s.size())
                return fail("unterminated character class");
        } else if (c == u'(') {
            if (i + 1 < s.size() && s[i + 1] == u'*')
                return fail("PCRE verb in regular expression");
            if (i + 1 < s.size() && s[i + 1] == u'?') {
                const QStringView after = s.mid(i + 2);
                if (!(after.startsWith(u':') || after.startsWith(u'=') || after.startsWith(u'!')
                      || after.startsWith(u"<=") || after.startsWith(u"<!")))
                    return fail("unsupported group in regular expression");
            }
            if (groups.size() > 32)
                return fail("groups nested too deep");
            groups.append(Group());
        } else if (c == u')') {
            if (groups.size() < 2)
                return fail("unbalanced parenthesis");
            closedRisky = groups.last().risky;
            groups.removeLast();
            if (closedRisky)
                groups.last().risky = true;
        } else if (c == u'|') {
            groups.last().risky = true;
        } else if (c == u'*' || c == u'+' || c == u'{' || c == u'?') {
            bool unbounded = c == u'*' || c == u'+';
            if (c == u'{') {
                const qsizetype close = s.indexOf(u'}', i);
                if (close < 0)
                    return fail("unterminated repetition");
                const QStringView inner = s.mid(i + 1, close - i - 1);
                const qsizetype comma = inner.indexOf(u',');
                if (comma >= 0 && comma == inner.size() - 1)
                    unbounded = true;
                else if (comma >= 0 && inner.mid(comma + 1).toInt() > 1000)
                    return fail("repetition too large");
                i = close;
            }
            if (unbounded) {
                if (lastWasGroupRisky)
                    return fail("nested quantifier in regular expression");
                groups.last().risky = true;
            }
        }
        lastWasGroupRisky = closedRisky;
    }
    if (groups.size() != 1)
        return fail("unbalanced parenthesis");
    return true;
}

bool FilterRule::isSafeSelector(QStringView s)
{
    if (s.startsWith(u'@'))
        return false;
    int round = 0, square = 0;
    QChar quote;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        // Braces end a rule whatever a parser thinks of the quotes around
        // them; no list needs them in a selector.
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == u'{' || c == u'}')
            return false;
        if (c == u'\\') {
            if (++i >= s.size())
                return false;
            continue;
        }
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        switch (c.unicode()) {
        case u'"':
        case u'\'':
            quote = c;
            break;
        case u'{':
        case u'}':
        case u';':
        case u'<':
            return false;
        case u'/':
            if (i + 1 < s.size() && s[i + 1] == u'*')
                return false;
            break;
        case u'(':
            ++round;
            break;
        case u')':
            if (--round < 0)
                return false;
            break;
        case u'[':
            ++square;
            break;
        case u']':
            if (--square < 0)
                return false;
            break;
        default:
            break;
        }
    }
    return quote.isNull() && round == 0 && square == 0;
}
