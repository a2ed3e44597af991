#pragma once

#include <QByteArray>
#include <QString>

// Writes a secret file at a predictable name in a shared folder (such as
// /tmp). Whatever already sits at that name must be a regular file of our
// own; a symlink, another user's file or anything else is left alone and the
// write fails. The new content is created exclusively under a random name,
// 0600, and renamed into place, so it is never written through a link and
// never shows up half-written.
class PrivateConfigFile
{
public:
    static bool write(const QString &path, const QByteArray &data);
    // True when nothing is at path, or a regular non-link file owned by us.
    static bool mayReplace(const QString &path);
};
