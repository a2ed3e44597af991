#include "PrivateConfigFile.h"

#include "PosixFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {
// Opens the folder for the *at() calls. A link at the folder's own name is
// followed only into a folder others cannot write to (a user's dotfile
// set-up); in a shared folder anyone could have put it there.
int openFolder(const QByteArray &folder)
{
    int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 || (errno != ELOOP && errno != ENOTDIR))
        return fd;
    fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || (st.st_mode & S_IWOTH))) {
        ::close(fd);
        errno = ELOOP;
        return -1;
    }
    return fd;
}

}

bool PrivateConfigFile::write(const QString &path, const QByteArray &data)
{
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.fileName());
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    if (name.isEmpty())
        return false;
    PosixFile::Descriptor dir{openFolder(folder)};
    if (dir.fd < 0 && errno == ENOENT && QDir().mkpath(info.absolutePath()))
        dir.fd = openFolder(folder);
    if (dir.fd < 0)
        return false;

    // Only a regular file of ours is replaced. The rename below replaces the
    // name itself, so whatever is planted there after this check (a link)
    // is never followed; in a sticky folder another user's file can't be
    // renamed over at all.
    struct stat st {};
    if (::fstatat(dir.fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            return false;
    } else if (errno != ENOENT) {
        return false;
    }

    static const char alnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray tempName;
    PosixFile::Descriptor file;
    for (int attempt = 0; attempt < 16 && file.fd < 0; ++attempt) {
        tempName = name + ".tmp-";
        for (int i = 0; i < 6; ++i)
            tempName += alnum[QRandomGenerator::global()->bounded(62)];
        file.fd = ::openat(dir.fd, tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (file.fd < 0 && errno != EEXIST)
            return false;
    }
    if (file.fd < 0)
        return false;

    // The umask may have taken bits off, never put any on; fchmod makes it exact.
    bool ok = ::fchmod(file.fd, 0600) == 0 && PosixFile::writeAll(file.fd, data) && ::fsync(file.fd) == 0;
    ok = ::close(std::exchange(file.fd, -1)) == 0 && ok;
    ok = ok && ::renameat(dir.fd, tempName.constData(), dir.fd, name.constData()) == 0;
    if (!ok) {
        ::unlinkat(dir.fd, tempName.constData(), 0);
        return false;
    }
    ::fsync(dir.fd);
    return true;
}
