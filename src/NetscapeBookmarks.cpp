#include "NetscapeBookmarks.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QStringDecoder>
#include <QUrl>

namespace {
// U+00A0 … U+00FF in order: the Latin-1 names of HTML 4.
const char *const kLatin1Names[96] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",
    "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",
    "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave",
    "iacute", "icirc",  "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

const QHash<QString, char32_t> &namedEntities()
{
    static const QHash<QString, char32_t> table = [] {
        QHash<QString, char32_t> t{
            {QStringLiteral("amp"), U'&'},       {QStringLiteral("lt"), U'<'},        {QStringLiteral("gt"), U'>'},
            {QStringLiteral("quot"), U'"'},      {QStringLiteral("apos"), U'\''},     {QStringLiteral("ndash"), 0x2013},
            {QStringLiteral("mdash"), 0x2014},   {QStringLiteral("lsquo"), 0x2018},   {QStringLiteral("rsquo"), 0x2019},
            {QStringLiteral("sbquo"), 0x201A},   {QStringLiteral("ldquo"), 0x201C},   {QStringLiteral("rdquo"), 0x201D},
            {QStringLiteral("bdquo"), 0x201E},   {QStringLiteral("hellip"), 0x2026},  {QStringLiteral("bull"), 0x2022},
            {QStringLiteral("trade"), 0x2122},   {QStringLiteral("euro"), 0x20AC},    {QStringLiteral("dagger"), 0x2020},
            {QStringLiteral("Dagger"), 0x2021},  {QStringLiteral("permil"), 0x2030},  {QStringLiteral("lsaquo"), 0x2039},
            {QStringLiteral("rsaquo"), 0x203A},  {QStringLiteral("oelig"), 0x0153},   {QStringLiteral("OElig"), 0x0152},
            {QStringLiteral("scaron"), 0x0161},  {QStringLiteral("Scaron"), 0x0160},  {QStringLiteral("Yuml"), 0x0178},
            {QStringLiteral("fnof"), 0x0192},    {QStringLiteral("circ"), 0x02C6},    {QStringLiteral("tilde"), 0x02DC},
            {QStringLiteral("ensp"), 0x2002},    {QStringLiteral("emsp"), 0x2003},    {QStringLiteral("thinsp"), 0x2009},
            {QStringLiteral("zwnj"), 0x200C},    {QStringLiteral("zwj"), 0x200D},     {QStringLiteral("lrm"), 0x200E},
            {QStringLiteral("rlm"), 0x200F},
        };
        for (int i = 0; i < 96; ++i)
            t.insert(QString::fromLatin1(kLatin1Names[i]), char32_t(0xA0 + i));
        return t;
    }();
    return table;
}

void appendCodePoint(QString &out, char32_t c)
{
    // NUL, surrogates and values beyond Unicode become the replacement character, as in HTML.
    if (c == 0 || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        c = 0xFFFD;
    if (QChar::requiresSurrogates(c)) {
        out.append(QChar(QChar::highSurrogate(c)));
        out.append(QChar(QChar::lowSurrogate(c)));
    } else {
        out.append(QChar(char16_t(c)));
    }
}

// Decoded, control characters dropped, runs of white space made one blank.
QString cleanText(QStringView raw)
{
    QString decoded = NetscapeBookmarks::decodeEntities(raw);
    for (QChar &c : decoded) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.unicode() == 0xA0)
            c = QLatin1Char(' ');
    }
    return decoded.simplified();
}

// Cut at a character boundary: a pair of surrogates stays whole.
QString truncated(const QString &text, qsizetype length)
{
    if (text.size() <= length)
        return text;
    if (length > 0 && text.at(length - 1).isHighSurrogate())
        --length;
    return text.left(length);
}

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'-' || c == u'_' || c == u':' || c == u'.';
}

struct Tag {
    QString name; // lower case
    bool closing = false;
    // The only attributes read (raw, undecoded); the first of repeated ones counts.
    QString href;
    QString addDate;
    bool hasHref = false;
    bool hasAddDate = false;
};

// Reads the tag starting at text[pos] == '<'; pos ends after its '>' (or at
// the end of the text for a tag that never closes). Other attributes (ICON
// data among them, often kilobytes) are passed over without a copy.
Tag readTag(QStringView text, qsizetype &pos)
{
    Tag tag;
    const qsizetype n = text.size();
    qsizetype i = pos + 1;
    if (i < n && text[i] == u'/') {
        tag.closing = true;
        ++i;
    }
    const qsizetype nameStart = i;
    while (i < n && isNameChar(text[i]))
        ++i;
    tag.name = text.mid(nameStart, i - nameStart).toString().toLower();
    while (i < n && text[i] != u'>') {
        if (text[i].isSpace() || text[i] == u'/') {
            ++i;
            continue;
        }
        const qsizetype attrStart = i;
        while (i < n && !text[i].isSpace() && text[i] != u'=' && text[i] != u'>' && text[i] != u'/')
            ++i;
        if (i == attrStart) { // a stray character such as a lone quote
            ++i;
            continue;
        }
        const QStringView name = text.mid(attrStart, i - attrStart);
        while (i < n && text[i].isSpace())
            ++i;
        QStringView value;
        if (i < n && text[i] == u'=') {
            ++i;
            while (i < n && text[i].isSpace())
                ++i;
            if (i < n && (text[i] == u'"' || text[i] == u'\'')) {
                const QChar quote = text[i];
                const qsizetype end = text.indexOf(quote, i + 1);
                const qsizetype stop = end < 0 ? n : end;
                value = text.mid(i + 1, stop - i - 1);
                i = end < 0 ? n : end + 1;
            } else {
                const qsizetype valueStart = i;
                while (i < n && !text[i].isSpace() && text[i] != u'>')
                    ++i;
                value = text.mid(valueStart, i - valueStart);
            }
        }
        if (tag.closing)
            continue;
        if (!tag.hasHref && name.compare(u"href", Qt::CaseInsensitive) == 0) {
            tag.hasHref = true;
            tag.href = value.toString();
        } else if (!tag.hasAddDate && name.compare(u"add_date", Qt::CaseInsensitive) == 0) {
            tag.hasAddDate = true;
            tag.addDate = value.toString();
        }
    }
    pos = i < n ? i + 1 : n;
    return tag;
}

QString storeTimestamp(const QDateTime &when)
{
    return when.toString(Qt::ISODate);
}
}

QString NetscapeBookmarks::decodeEntities(QStringView text)
{
    const qsizetype firstAmp = text.indexOf(u'&');
    if (firstAmp < 0)
        return text.toString();
    QString out;
    out.reserve(text.size());
    out.append(text.left(firstAmp));
    const qsizetype n = text.size();
    qsizetype i = firstAmp;
    while (i < n) {
        const QChar c = text[i];
        if (c != u'&') {
            out.append(c);
            ++i;
            continue;
        }
        // Longest reference worth reading: "&#x10FFFF;" or a long name.
        const qsizetype semi = text.mid(i, 34).indexOf(u';');
        if (semi > 1) {
            const QStringView body = text.mid(i + 1, semi - 1);
            if (body.startsWith(u'#')) {
                const bool hex = body.size() > 1 && (body[1] == u'x' || body[1] == u'X');
                const QStringView digits = body.mid(hex ? 2 : 1);
                bool ok = !digits.isEmpty();
                for (QChar d : digits) {
                    const char16_t u = d.unicode();
                    const bool digit = u >= u'0' && u <= u'9';
                    ok = ok && (digit || (hex && ((u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F'))));
                }
                if (ok) {
                    const qulonglong value = digits.size() > 8 ? 0x110000 : digits.toULongLong(&ok, hex ? 16 : 10);
                    appendCodePoint(out, value > 0x10FFFF ? char32_t(0x110000) : char32_t(value));
                    i += semi + 1;
                    continue;
                }
            } else if (const auto it = namedEntities().constFind(body.toString()); it != namedEntities().cend()) {
                appendCodePoint(out, *it);
                i += semi + 1;
                continue;
            }
        }
        out.append(c);
        ++i;
    }
    return out;
}

QString NetscapeBookmarks::escape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&': out += QLatin1String("&amp;"); break;
        case u'<': out += QLatin1String("&lt;"); break;
        case u'>': out += QLatin1String("&gt;"); break;
        case u'"': out += QLatin1String("&quot;"); break;
        case u'\'': out += QLatin1String("&#39;"); break;
        case u'\n': case u'\r': case u'\t': out += QLatin1Char(' '); break;
        default: out += c;
        }
    }
    return out;
}

QString NetscapeBookmarks::timestampFromAddDate(QStringView value)
{
    const QStringView digits = value.trimmed();
    if (digits.isEmpty() || digits.size() > 18)
        return QString();
    for (QChar d : digits) {
        if (!d.isDigit() || d.unicode() >= 128)
            return QString();
    }
    qint64 number = digits.toLongLong();
    // Some exporters write milli- or microseconds; seconds of those sizes
    // would lie thousands of years ahead.
    if (number >= 100'000'000'000'000LL)
        number /= 1'000'000;
    else if (number >= 100'000'000'000LL)
        number /= 1000;
    if (number <= 0)
        return QString();
    return storeTimestamp(QDateTime::fromSecsSinceEpoch(number));
}

QString NetscapeBookmarks::addDateFromTimestamp(const QString &timestamp)
{
    const QDateTime when = QDateTime::fromString(timestamp, Qt::ISODate);
    if (!when.isValid() || when.toSecsSinceEpoch() <= 0)
        return QString();
    return QString::number(when.toSecsSinceEpoch());
}

bool NetscapeBookmarks::isAcceptedUrl(const QUrl &url)
{
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("file"))
        return !url.path().isEmpty();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("ftp"))
        && !url.host().isEmpty();
}

NetscapeBookmarks::ParseResult NetscapeBookmarks::parse(const QByteArray &bytes)
{
    ParseResult result;
    if (bytes.contains('\0')) {
        result.error = QStringLiteral("the file is not an HTML bookmark file");
        return result;
    }
    // The format declares UTF-8; a byte-order mark is dropped by the decoder.
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    const QStringView view(text);
    const qsizetype n = view.size();
    qsizetype pos = 0;
    while (pos < n && view[pos].isSpace())
        ++pos;
    if (pos >= n || view[pos] != u'<') {
        result.error = QStringLiteral("the file is not an HTML bookmark file");
        return result;
    }
    const bool hasDoctype = view.left(4096).contains(u"<!DOCTYPE NETSCAPE-Bookmark-file-1", Qt::CaseInsensitive);
    bool sawList = false;
    bool sawTerm = false;

    // Names of the open <DL> levels (empty for unnamed ones). Levels deeper
    // than kMaxDepth only count, so a file of endless nesting stays linear.
    constexpr int kMaxDepth = 32;
    QStringList folders;
    int deeperLevels = 0;
    QString prefix; // the folders as "A / B / "
    QString pendingFolder;      // the last <H3>, waiting for its <DL>
    bool inFolderName = false;
    QString folderText;
    bool inLink = false;
    QString linkHref;
    QString linkDate;
    bool linkHasHref = false;
    QString linkText;

    bool tooMany = false;
    auto finishLink = [&] {
        if (!inLink)
            return;
        inLink = false;
        if (result.bookmarks.size() >= maxBookmarks) {
            tooMany = true;
            return;
        }
        const QString href = decodeEntities(linkHref).trimmed();
        const QUrl url(href, QUrl::TolerantMode);
        if (!linkHasHref || href.size() > maxUrlLength || !isAcceptedUrl(url)) {
            ++result.refused;
            return;
        }
        const QString address = url.toString();
        if (address.size() > maxUrlLength) {
            ++result.refused;
            return;
        }
        QString title = cleanText(linkText);
        if (title.isEmpty())
            title = address;
        title = truncated(prefix + title, maxTitleLength);
        result.bookmarks.append({address, title, timestampFromAddDate(linkDate)});
    };
    auto finishFolderName = [&] {
        if (!inFolderName)
            return;
        inFolderName = false;
        pendingFolder = truncated(cleanText(folderText), maxTitleLength);
    };

    while (pos < n && !tooMany) {
        const qsizetype lt = view.indexOf(u'<', pos);
        const qsizetype textEnd = lt < 0 ? n : lt;
        if (textEnd > pos) {
            if (inLink)
                linkText += view.mid(pos, textEnd - pos);
            else if (inFolderName)
                folderText += view.mid(pos, textEnd - pos);
        }
        if (lt < 0)
            break;
        pos = lt;
        const QStringView rest = view.mid(pos);
        if (rest.startsWith(u"<!--")) {
            const qsizetype end = view.indexOf(u"-->", pos + 4);
            pos = end < 0 ? n : end + 3;
            continue;
        }
        if (rest.startsWith(u"<!") || rest.startsWith(u"<?")) {
            const qsizetype end = view.indexOf(u'>', pos);
            pos = end < 0 ? n : end + 1;
            continue;
        }
        const bool looksLikeTag = rest.size() > 1
            && (rest[1].isLetter() || (rest[1] == u'/' && rest.size() > 2 && rest[2].isLetter()));
        if (!looksLikeTag) { // a lone '<' is text
            if (inLink)
                linkText += u'<';
            else if (inFolderName)
                folderText += u'<';
            ++pos;
            continue;
        }
        const Tag tag = readTag(view, pos);
        const QString &name = tag.name;
        if (!tag.closing && (name == QLatin1String("script") || name == QLatin1String("style")
                             || name == QLatin1String("title") || name == QLatin1String("textarea"))) {
            // Raw text up to the matching end tag: never markup, never a title.
            const QString endTag = QStringLiteral("</") + name;
            const qsizetype end = view.indexOf(endTag, pos, Qt::CaseInsensitive);
            if (end < 0) {
                pos = n;
            } else {
                pos = end;
                readTag(view, pos);
            }
            continue;
        }
        if (name == QLatin1String("a")) {
            if (tag.closing) {
                finishLink();
            } else {
                finishLink(); // an <A> left open by a sloppy writer ends at the next one
                finishFolderName();
                inLink = true;
                linkHasHref = tag.hasHref;
                linkHref = tag.href;
                linkDate = tag.addDate;
                linkText.clear();
            }
        } else if (name == QLatin1String("h3")) {
            finishLink();
            if (tag.closing) {
                finishFolderName();
            } else {
                inFolderName = true;
                folderText.clear();
            }
        } else if (name == QLatin1String("dl")) {
            finishLink();
            finishFolderName();
            sawList = true;
            if (tag.closing) {
                if (deeperLevels > 0)
                    --deeperLevels;
                else if (!folders.isEmpty())
                    folders.removeLast();
            } else if (folders.size() < kMaxDepth) {
                folders.append(pendingFolder);
            } else {
                ++deeperLevels;
            }
            pendingFolder.clear();
            prefix.clear();
            for (const QString &folder : std::as_const(folders)) {
                if (!folder.isEmpty())
                    prefix += folder + QStringLiteral(" / ");
            }
        } else if (name == QLatin1String("dt") || name == QLatin1String("dd") || name == QLatin1String("hr")
                   || name == QLatin1String("h1") || name == QLatin1String("h2")) {
            // Structure: what follows belongs to no open link or folder name.
            finishLink();
            finishFolderName();
            if (name == QLatin1String("dt"))
                sawTerm = true;
        }
        // Every other tag (<p>, <b>, <meta> …) is skipped; text inside a link stays its title.
    }
    finishLink();

    if (!hasDoctype && !(sawList && sawTerm)) {
        result.bookmarks.clear();
        result.refused = 0;
        result.error = QStringLiteral("the file is not an HTML bookmark file");
        return result;
    }
    if (tooMany) {
        result.bookmarks.clear();
        result.refused = 0;
        result.error = QStringLiteral("the file holds more than %1 bookmarks").arg(maxBookmarks);
        return result;
    }
    result.ok = true;
    return result;
}

QByteArray NetscapeBookmarks::write(const QJsonArray &bookmarks, int *written)
{
    int count = 0;
    QString out = QStringLiteral(
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
        "<!-- This is an automatically generated file.\n"
        "     It will be read and overwritten.\n"
        "     DO NOT EDIT! -->\n"
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
        "<TITLE>Bookmarks</TITLE>\n"
        "<H1>Bookmarks</H1>\n"
        "<DL><p>\n");
    for (const QJsonValue &value : bookmarks) {
        const QJsonObject record = value.toObject();
        const QString url = record.value(QLatin1String("url")).toString();
        if (url.isEmpty())
            continue;
        QString title = record.value(QLatin1String("title")).toString();
        if (title.isEmpty())
            title = url;
        out += QStringLiteral("    <DT><A HREF=\"") + escape(url) + u'"';
        const QString addDate = addDateFromTimestamp(record.value(QLatin1String("added")).toString());
        if (!addDate.isEmpty())
            out += QStringLiteral(" ADD_DATE=\"") + addDate + u'"';
        out += u'>' + escape(title) + QStringLiteral("</A>\n");
        ++count;
    }
    if (written)
        *written = count;
    out += QStringLiteral("</DL><p>\n");
    return out.toUtf8();
}
