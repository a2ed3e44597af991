#include "PasswordCsv.h"

#include <QJsonObject>
#include <QStringDecoder>
#include <QUrl>

bool PasswordCsv::forEachRecord(QStringView text, const std::function<bool(const QStringList &, int line)> &record,
                                int *openLine)
{
    const qsizetype n = text.size();
    QStringList fields;
    QString field;
    bool quoted = false;      // inside a quoted field
    bool fieldQuoted = false; // the current field began with a quote
    int line = 1;
    int recordLine = 1;
    int quoteLine = 1;

    auto endField = [&] {
        if (fields.size() < maxFields)
            fields.append(field);
        field.clear();
        fieldQuoted = false;
    };
    // An empty line (one empty, unquoted field) is no record.
    auto endRecord = [&]() -> bool {
        const bool blank = fields.isEmpty() && field.isEmpty() && !fieldQuoted;
        endField();
        bool go = true;
        if (!blank)
            go = record(fields, recordLine);
        fields.clear();
        return go;
    };

    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < n && text[i + 1] == u'"') {
                    field += u'"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == u'\n' || (c == u'\r' && !(i + 1 < n && text[i + 1] == u'\n')))
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == u',') {
            endField();
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
                ++i;
            if (!endRecord())
                return true;
            ++line;
            recordLine = line;
        } else if (c == u'"' && field.isEmpty() && !fieldQuoted) {
            quoted = true;
            fieldQuoted = true;
            quoteLine = line;
        } else {
            // Text after a closing quote, or a quote inside an unquoted
            // field, is kept as written (as spreadsheets do).
            field += c;
        }
    }
    if (quoted) {
        if (openLine)
            *openLine = quoteLine;
        return false;
    }
    endRecord();
    return true;
}

PasswordCsv::ParseResult PasswordCsv::parse(const QByteArray &bytes)
{
    ParseResult result;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    int urlColumn = -1;
    int userColumn = -1;
    int passwordColumn = -1;
    bool header = true;
    bool tooMany = false;
    int rows = 0;
    auto take = [&](const QStringList &fields, int) -> bool {
        if (header) {
            header = false;
            QStringList names;
            for (const QString &name : fields)
                names << name.trimmed().toLower();
            urlColumn = int(names.indexOf(QLatin1String("url")));
            userColumn = int(names.indexOf(QLatin1String("username")));
            passwordColumn = int(names.indexOf(QLatin1String("password")));
            if (names.size() >= 4 && names.size() <= 5 && names.first() == QLatin1String("name") && urlColumn == 1
                && userColumn == 2 && passwordColumn == 3 && (names.size() == 4 || names.at(4) == QLatin1String("note")))
                result.format = Format::Chromium;
            else if (urlColumn == 0 && userColumn == 1 && passwordColumn == 2 && names.contains(QLatin1String("httprealm")))
                result.format = Format::Firefox;
            else if (urlColumn >= 0 && userColumn >= 0 && passwordColumn >= 0)
                result.format = Format::Other;
            return result.format != Format::Unknown;
        }
        if (++rows > maxRows) {
            tooMany = true;
            return false;
        }
        const int needed = qMax(urlColumn, qMax(userColumn, passwordColumn)) + 1;
        if (fields.size() < needed) {
            ++result.skipped;
            return true;
        }
        const QString url = fields.at(urlColumn).trimmed();
        const QString &password = fields.at(passwordColumn);
        if (url.isEmpty() || password.isEmpty()) {
            ++result.skipped;
            return true;
        }
        result.logins.append({url, fields.at(userColumn), password});
        return true;
    };
    int openLine = 0;
    if (!forEachRecord(text, take, &openLine)) {
        result.logins.clear();
        result.skipped = 0;
        result.error = QStringLiteral("the quoted field that begins on line %1 is never closed").arg(openLine);
        return result;
    }
    if (header || result.format == Format::Unknown) {
        result.logins.clear();
        result.skipped = 0;
        result.error = QStringLiteral("the first line is not the header of a password export "
                                      "(it needs the columns url, username and password)");
        return result;
    }
    if (tooMany) {
        result.logins.clear();
        result.skipped = 0;
        result.error = QStringLiteral("the file holds more than %1 rows").arg(maxRows);
        return result;
    }
    result.ok = true;
    return result;
}

QString PasswordCsv::quoted(const QString &field)
{
    const bool needsQuotes = field.contains(u',') || field.contains(u'"') || field.contains(u'\n')
        || field.contains(u'\r') || (!field.isEmpty() && (field.front().isSpace() || field.back().isSpace()));
    if (!needsQuotes)
        return field;
    QString out = field;
    out.replace(u'"', QLatin1String("\"\""));
    return u'"' + out + u'"';
}

QByteArray PasswordCsv::write(const QJsonArray &storedPasswords, int *written)
{
    QString out = QStringLiteral("name,url,username,password\r\n");
    int count = 0;
    for (const QJsonValue &value : storedPasswords) {
        const QJsonObject record = value.toObject();
        const QString url = record.value(QLatin1String("url")).toString();
        if (url.isEmpty())
            continue;
        const QString host = QUrl(url).host();
        const QString password = DataManager::decryptPasswordStatic(record.value(QLatin1String("password")).toString());
        out += quoted(host.isEmpty() ? url : host) + u',' + quoted(url) + u','
            + quoted(record.value(QLatin1String("username")).toString()) + u',' + quoted(password)
            + QLatin1String("\r\n");
        ++count;
    }
    if (written)
        *written = count;
    return out.toUtf8();
}

bool PasswordCsv::looksLikeJson(const QByteArray &bytes)
{
    qsizetype i = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i < bytes.size() && (bytes.at(i) == ' ' || bytes.at(i) == '\t' || bytes.at(i) == '\r' || bytes.at(i) == '\n'))
        ++i;
    return i < bytes.size() && (bytes.at(i) == '[' || bytes.at(i) == '{');
}
