#pragma once

#include <QByteArray>
#include <QString>

// Writes a secret file at a predictable name, possibly in a shared folder
// (such as /tmp). Whatever already sits at that name must be a regular file
// of our own; a symlink, another user's file or anything else is left alone
// and the write fails.
//
// Every step after opening the folder goes through that folder's descriptor
// and never through a path: the content is created exclusively under a
// random name with O_NOFOLLOW, 0600, flushed to disk and renamed into place
// within the same folder. A link planted at the name after the check is
// replaced, never followed. A folder others may write to is never reached
// through a link, not even a link at the folder's own name; the user's own
// folders may be.
class PrivateConfigFile
{
public:
    // Creates missing parent folders. False when nothing was written.
    static bool write(const QString &path, const QByteArray &data);
};
