#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringView>

class QUrl;

// The HTML bookmark file every browser imports and exports
// ("<!DOCTYPE NETSCAPE-Bookmark-file-1>", "<DT><A HREF=… ADD_DATE=…>").
//
// Reading is a tolerant single pass over the markup: folders (<H3> followed by
// <DL>) become a "Folder / Sub / " prefix of the title, since the store keeps
// no folders; only HREF and ADD_DATE of a link are read; scripts, styles,
// comments and every other attribute are skipped. Nothing in the file is
// trusted: addresses other than web, FTP and local-file ones (javascript:,
// data:, place: …) are refused and counted.
class NetscapeBookmarks
{
public:
    struct Bookmark {
        QString url;
        QString title;
        QString added; // the store's timestamp format; empty when the file gave none
    };
    struct ParseResult {
        bool ok = false;
        QString error; // why the file as a whole was refused
        QList<Bookmark> bookmarks; // in file order
        int refused = 0; // links without an acceptable address
    };

    // Larger files are refused before they are read: a browser's export of
    // tens of thousands of bookmarks with icons stays well below it.
    static constexpr qint64 maxFileBytes = 32 * 1024 * 1024;
    // More than any real export holds; storing and listing that many takes
    // a few seconds already, so a larger file is refused whole.
    static constexpr int maxBookmarks = 100000;
    static constexpr int maxTitleLength = 2048;
    static constexpr int maxUrlLength = 64 * 1024;

    static ParseResult parse(const QByteArray &bytes);

    // A flat file (no folders) of the store's records, in their order, that
    // other browsers import; records without an address are left out.
    static QByteArray write(const QJsonArray &bookmarks, int *written = nullptr);

    // Named (the common HTML set) and numeric character references; anything
    // unknown stays as written.
    static QString decodeEntities(QStringView text);
    static QString escape(const QString &text);

    // ADD_DATE (seconds since 1970; milli- and microseconds are recognised)
    // as the store's timestamp, or empty for anything else.
    static QString timestampFromAddDate(QStringView value);
    // The store's timestamp as ADD_DATE, or empty when it does not parse.
    static QString addDateFromTimestamp(const QString &timestamp);

    // http, https, ftp (with a host) and file addresses.
    static bool isAcceptedUrl(const QUrl &url);
};
