#pragma once

#include <QByteArray>
#include <QString>

// Reads a file the user picked for an import: a regular file of at most
// `cap` bytes, read whole. A larger file is refused before it is read, and a
// file that grows while it is read is refused too.
class ImportFile
{
public:
    // On failure *error says why, for "Import failed: …".
    static bool read(const QString &path, qint64 cap, QByteArray *bytes, QString *error);
    // "32 MB", "16 MB", "512 KB".
    static QString sizeText(qint64 bytes);
};
