#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>

#include "DataManager.h"

// The CSV password files of other browsers: Chromium-based ones
// ("name,url,username,password[,note]") and Firefox
// ("url,username,password,httpRealm,formActionOrigin,guid,timeCreated,
// timeLastUsed,timePasswordChanged"), told apart by the header row; columns
// are found by name, so their order does not matter. RFC 4180 quoting
// (commas, quotes and line breaks inside quoted fields), CRLF or LF line
// ends, a UTF-8 byte-order mark.
//
// Error texts name line numbers only, never a field: a field may be a password.
class PasswordCsv
{
public:
    enum class Format { Unknown, Chromium, Firefox, Other };
    struct ParseResult {
        bool ok = false;
        QString error; // why the file as a whole was refused
        Format format = Format::Unknown;
        QList<DataManager::Login> logins; // in file order
        int skipped = 0; // rows without a website address or a password, or too short
    };

    // Twice the 10,000 logins of a large export (Chromium's own importer
    // stops at 3,000): parsing, storing and listing stay around a second on
    // the GUI thread. Larger files are refused whole. Fields beyond
    // maxFields in a row are dropped.
    static constexpr int maxRows = 20000;
    static constexpr qint64 maxFileBytes = 8 * 1024 * 1024;
    static constexpr int maxFields = 64;

    static ParseResult parse(const QByteArray &bytes);

    // Calls `record` for each non-empty RFC 4180 record with the line it
    // starts on; `record` returns false to stop. Returns false on a quoted
    // field still open at the end, with the line it began on in *openLine.
    static bool forEachRecord(QStringView text, const std::function<bool(const QStringList &, int line)> &record,
                              int *openLine = nullptr);

    // The Chromium format ("name,url,username,password", CRLF line ends) of
    // the store's records; passwords in clear text.
    static QByteArray write(const QJsonArray &storedPasswords, int *written = nullptr);
    static QString quoted(const QString &field);

    // Whether the bytes look like the store's own JSON export rather than CSV.
    static bool looksLikeJson(const QByteArray &bytes);
};
