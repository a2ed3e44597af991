#include "PageScript.h"

#include <QFile>

// The resources live in a static library: registering them here pulls them
// into every binary that builds page scripts. (Not in a namespace: the macro
// declares the registration function where it is used.)
static void ensureResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(orvexbrowser);
        return true;
    }();
    Q_UNUSED(done);
}

QString PageScript::source(const QString &name)
{
    ensureResources();
    // Templates are read once per run; each tab builds its scripts from them.
    static QHash<QString, QString> cache;
    const auto it = cache.constFind(name);
    if (it != cache.cend())
        return *it;
    QFile file(QStringLiteral(":/scripts/") + name);
    QString text;
    if (file.open(QIODevice::ReadOnly))
        text = QString::fromUtf8(file.readAll());
    cache.insert(name, text);
    return text;
}

QString PageScript::fill(const QString &name, const QHash<QString, QString> &values)
{
    const QString text = source(name);
    QString out;
    out.reserve(text.size());
    qsizetype from = 0;
    while (true) {
        const qsizetype open = text.indexOf(QLatin1String("\"@"), from);
        if (open < 0)
            break;
        const qsizetype close = text.indexOf(QLatin1String("@\""), open + 2);
        if (close < 0)
            break;
        const QString key = text.mid(open + 2, close - open - 2);
        const auto value = values.constFind(key);
        out += QStringView(text).sliced(from, open - from);
        if (value == values.cend())
            out += QStringView(text).sliced(open, close + 2 - open);
        else
            out += *value;
        from = close + 2;
    }
    out += QStringView(text).sliced(from);
    return out;
}

QString PageScript::string(QStringView text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case 0x2028:
            out += QLatin1String("\\u2028");
            break;
        case 0x2029:
            out += QLatin1String("\\u2029");
            break;
        default:
            out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

QString PageScript::array(const QStringList &entries)
{
    QStringList quoted;
    quoted.reserve(entries.size());
    for (const QString &entry : entries)
        quoted.append(string(entry));
    return QLatin1Char('[') + quoted.join(QStringLiteral(", ")) + QLatin1Char(']');
}

QString PageScript::boolean(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString PageScript::withElementFeed(const QString &script)
{
    return source(QStringLiteral("elementfeed.js")) + QStringLiteral("\n;\n") + script;
}
