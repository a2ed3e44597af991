#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QString>
#include <QStringList>

// The one writer and reader behind every file the browser keeps.
//
// Writes are atomic (temporary file in the same folder, flushed, renamed over
// the old one), so a crash or a full disk leaves the old or the new complete
// file, never a torn one. Secret files are created 0600 before a byte is
// written, and stay 0600 after every rewrite whatever the umask; other files
// keep the permissions of the file they replace. A symbolic link is kept and
// the file it points to is replaced.
//
// Reads never destroy data: a file that exists, is not empty and does not
// parse as the expected JSON type is copied aside as
// "<name>.corrupt-<yyyyMMdd-hhmmss>" before the caller can overwrite it (moved
// there when a copy can't be written; not copied again when an identical
// copy exists). When neither works (a read-only folder), the next write of
// that file tries again and fails rather than replace the bytes.
class StoreFile
{
public:
    enum class Access { Normal, Secret };
    enum class JsonType { Array, Object };
    enum class LoadResult { Loaded, Missing, Unreadable, Corrupt };

    // Creates missing parent folders. Returns false (and leaves any old file
    // untouched) when the data could not be written completely.
    static bool write(const QString &path, const QByteArray &data, Access access = Access::Normal);
    static bool writeJson(const QString &path, const QJsonDocument &doc, Access access = Access::Normal);

    // Loads a JSON document of the expected top-level type. On anything but
    // Loaded the returned document is empty (of the expected type).
    static QJsonDocument readJson(const QString &path, JsonType type, LoadResult *result = nullptr);

    // Removes temporary files of interrupted writes of this file ("<name>.tmp-XXXXXX").
    static void removeStaleTemporaries(const QString &path);
    // Removes the copies kept of damaged versions of this file
    // ("<name>.corrupt-*"); returns those that could not be removed.
    static QStringList removeDamagedCopies(const QString &path);
};
