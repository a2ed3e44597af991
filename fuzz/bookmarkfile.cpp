// fuzz-dict: bookmarks.dict
// NetscapeBookmarks::parse on arbitrary files: a refused file takes nothing;
// every bookmark taken has an accepted address and a bounded, single-line
// title; what write() makes of them reads back the same.
#include "FuzzSupport.h"
#include "NetscapeBookmarks.h"

#include <QDateTime>
#include <QJsonObject>
#include <QUrl>

#include <time.h>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::captureMessages();
    // ADD_DATE becomes local time: one without daylight-saving folds.
    qputenv("TZ", "UTC");
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const NetscapeBookmarks::ParseResult result = NetscapeBookmarks::parse(bytes);
    if (!result.ok) {
        FUZZ_CHECK(!result.error.isEmpty());
        FUZZ_CHECK(result.bookmarks.isEmpty() && result.refused == 0);
        return 0;
    }
    FUZZ_CHECK(result.refused >= 0);
    QJsonArray records;
    for (const NetscapeBookmarks::Bookmark &b : result.bookmarks) {
        FUZZ_CHECK(NetscapeBookmarks::isAcceptedUrl(QUrl(b.url)));
        FUZZ_CHECK(!b.title.isEmpty() && b.title.size() <= NetscapeBookmarks::maxTitleLength);
        FUZZ_CHECK(!b.title.contains(QLatin1Char('\n')) && !b.title.contains(QLatin1Char('\r')));
        FUZZ_CHECK(b.added.isEmpty() || QDateTime::fromString(b.added, Qt::ISODate).isValid());
        records.append(QJsonObject{{QStringLiteral("url"), b.url}, {QStringLiteral("title"), b.title},
                                   {QStringLiteral("added"), b.added}});
    }
    int written = 0;
    const NetscapeBookmarks::ParseResult back = NetscapeBookmarks::parse(NetscapeBookmarks::write(records, &written));
    FUZZ_CHECK(back.ok && written == result.bookmarks.size());
    FUZZ_CHECK(back.bookmarks.size() == result.bookmarks.size() && back.refused == 0);
    for (qsizetype i = 0; i < back.bookmarks.size(); ++i) {
        FUZZ_CHECK(back.bookmarks.at(i).title == result.bookmarks.at(i).title.simplified());
        FUZZ_CHECK(back.bookmarks.at(i).added == result.bookmarks.at(i).added);
    }
    return 0;
}
