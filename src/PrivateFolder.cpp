#include "PrivateFolder.h"

#include "PosixFile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Checked on the open folder, not on a path that could change meanwhile.
bool isOwnClosedFolder(int fd)
{
    struct stat st {};
    return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & 077) == 0;
}

// Neither the runtime folder nor ours in it is reached through a link: a link
// could be swapped between this check and the write.
QString inRuntimeFolder(const QString &runtimeDir)
{
    if (runtimeDir.isEmpty() || !QDir::isAbsolutePath(runtimeDir))
        return QString();
    const QString base = QDir::cleanPath(runtimeDir);
    PosixFile::Descriptor runtime{::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    if (!isOwnClosedFolder(runtime.fd))
        return QString();
    if (::mkdirat(runtime.fd, "orvexbrowser", 0700) != 0 && errno != EEXIST)
        return QString();
    PosixFile::Descriptor own{::openat(runtime.fd, "orvexbrowser", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    struct stat st {};
    if (own.fd < 0 || ::fstat(own.fd, &st) != 0 || st.st_uid != ::geteuid())
        return QString();
    if ((st.st_mode & 077) != 0 && ::fchmod(own.fd, 0700) != 0)
        return QString();
    return base + QStringLiteral("/orvexbrowser");
}

bool isPrivate(const QString &folder)
{
    PosixFile::Descriptor fd{::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    return isOwnClosedFolder(fd.fd);
}

QString freshInTemp(const QString &tempDir)
{
    // One folder per run; a new one when it was removed or tampered with.
    static QString made, madeIn;
    if (!made.isEmpty() && madeIn == tempDir && isPrivate(made))
        return made;
    if (tempDir.isEmpty())
        return QString();
    QByteArray name = QFile::encodeName(QDir::cleanPath(tempDir) + QStringLiteral("/orvexbrowser-XXXXXX"));
    if (!::mkdtemp(name.data()))
        return QString();
    PosixFile::Descriptor fresh{::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    if (fresh.fd < 0 || ::fchmod(fresh.fd, 0700) != 0 || !isOwnClosedFolder(fresh.fd)) // 0700 less the umask
        return QString();
    made = QFile::decodeName(name);
    madeIn = tempDir;
    return made;
}
}

QString PrivateFolder::locate(const QString &runtimeDir, const QString &tempDir)
{
    const QString runtime = inRuntimeFolder(runtimeDir);
    return runtime.isEmpty() ? freshInTemp(tempDir) : runtime;
}

QString PrivateFolder::path()
{
    return locate(qEnvironmentVariable("XDG_RUNTIME_DIR"),
                  QStandardPaths::writableLocation(QStandardPaths::TempLocation));
}
