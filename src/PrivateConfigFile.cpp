#include "PrivateConfigFile.h"

#include "StoreFile.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

bool PrivateConfigFile::mayReplace(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT;
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

bool PrivateConfigFile::write(const QString &path, const QByteArray &data)
{
    if (!mayReplace(path))
        return false;
    // StoreFile creates its temporary with O_CREAT|O_EXCL|O_NOFOLLOW, 0600,
    // and rename() replaces the name itself, never a link's target.
    return StoreFile::write(path, data, StoreFile::Access::Secret);
}
