#include "StoreFile.h"

#include "PosixFile.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QSet>
#include <QRegularExpression>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Temporary names are "<name>.tmp-" + six random characters, a pattern no
// user file is likely to have, so removeStaleTemporaries() can find ours.
QByteArray temporaryName(const QByteArray &finalName)
{
    static const char alnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = finalName + ".tmp-";
    for (int i = 0; i < 6; ++i)
        name += alnum[QRandomGenerator::global()->bounded(62)];
    return name;
}

// Keeps the user's bytes before anything can overwrite them. A file nobody
// rewrites (settings, say) is met again at every start: one copy is enough.
bool keepDamaged(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    const QString pattern = info.fileName() + QStringLiteral(".corrupt-*");
    const QFileInfoList earlier = info.dir().entryInfoList({pattern}, QDir::Files | QDir::Hidden);
    for (const QFileInfo &candidate : earlier) {
        QFile copy(candidate.absoluteFilePath());
        if (candidate.size() == bytes.size() && copy.open(QIODevice::ReadOnly) && copy.readAll() == bytes) {
            qWarning().noquote() << "StoreFile: unreadable data in" << path << "- a copy is kept as" << candidate.absoluteFilePath();
            return true;
        }
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString backup = path + QStringLiteral(".corrupt-") + stamp;
    for (int n = 1; QFileInfo::exists(backup); ++n)
        backup = path + QStringLiteral(".corrupt-") + stamp + QLatin1Char('-') + QString::number(n);
    const QFileDevice::Permissions perms = info.permissions();
    if (QFile::copy(path, backup)) {
        QFile::setPermissions(backup, perms);
        qWarning().noquote() << "StoreFile: unreadable data in" << path << "- kept a copy as" << backup;
        return true;
    }
    if (QFile::rename(path, backup)) {
        // No room for a copy (full disk): moving needs none.
        qWarning().noquote() << "StoreFile: unreadable data in" << path << "- moved it to" << backup;
        return true;
    }
    qWarning().noquote() << "StoreFile: unreadable data in" << path << "- could not keep a copy";
    return false;
}

// Damaged files whose bytes could not be kept when they were read.
QMutex unkeptMutex;
QSet<QString> &unkeptPaths()
{
    static QSet<QString> paths;
    return paths;
}

}

// Written with plain POSIX calls rather than QSaveFile: QSaveFile::commit()
// was seen to report success after a short write (file size limit), which
// would rename a truncated file over the user's data.
bool StoreFile::write(const QString &path, const QByteArray &data, Access access)
{
    {
        QMutexLocker lock(&unkeptMutex);
        if (unkeptPaths().contains(path)) {
            QFile damaged(path);
            if (!damaged.open(QIODevice::ReadOnly) || keepDamaged(path, damaged.readAll()))
                unkeptPaths().remove(path);
            else
                return false; // replacing it now would lose the user's bytes for good
        }
    }
    // Renaming over a symbolic link would replace the link (a user's dotfile
    // set-up, say) with a plain file; write where it points instead.
    QFileInfo info(path);
    if (info.isSymLink()) {
        const QString target = info.canonicalFilePath();
        info = QFileInfo(target.isEmpty() ? info.symLinkTarget() : target);
    }
    QDir().mkpath(info.absolutePath());
    const QByteArray finalName = QFile::encodeName(info.absoluteFilePath());
    const mode_t mode = access == Access::Secret ? 0600 : 0666;

    // A plain file keeps the permissions its owner gave the old one, as an
    // in-place rewrite would.
    struct stat old {};
    const bool keepMode = access == Access::Normal && ::stat(finalName.constData(), &old) == 0 && S_ISREG(old.st_mode);

    QByteArray tempName;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        tempName = temporaryName(finalName);
        fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;

    // The umask may have left group or other bits off, never on; fchmod makes
    // a secret file exactly 0600 before the secret reaches it.
    bool ok = access != Access::Secret || ::fchmod(fd, 0600) == 0;
    if (keepMode)
        ::fchmod(fd, old.st_mode & 0777);
    ok = ok && PosixFile::writeAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tempName.constData(), finalName.constData()) == 0;
    if (!ok) {
        ::unlink(tempName.constData());
        return false;
    }
    const int dirFd = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    removeStaleTemporaries(info.absoluteFilePath());
    return true;
}

bool StoreFile::writeJson(const QString &path, const QJsonDocument &doc, Access access)
{
    QByteArray bytes = doc.toJson(QJsonDocument::Indented);
    // Qt's JSON reader drops a raw U+FEFF inside a string, so a title holding
    // one would change and two keys could merge on the next load. Raw UTF-8
    // bytes EF BB BF only occur inside strings here; the escape survives.
    bytes.replace("\xEF\xBB\xBF", "\\ufeff");
    return write(path, bytes, access);
}

QJsonDocument StoreFile::readJson(const QString &path, JsonType type, LoadResult *result)
{
    const QJsonDocument empty = type == JsonType::Array ? QJsonDocument(QJsonArray())
                                                        : QJsonDocument(QJsonObject());
    auto report = [result](LoadResult r) {
        if (result)
            *result = r;
    };

    QFile file(path);
    if (!file.exists()) {
        report(LoadResult::Missing);
        return empty;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        report(LoadResult::Unreadable);
        return empty;
    }
    const QByteArray bytes = file.readAll();
    file.close();

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    const bool typeOk = type == JsonType::Array ? doc.isArray() : doc.isObject();
    if (error.error == QJsonParseError::NoError && typeOk) {
        report(LoadResult::Loaded);
        return doc;
    }
    if (bytes.trimmed().isEmpty()) {
        report(LoadResult::Missing);
        return empty;
    }

    if (!keepDamaged(path, bytes)) {
        // Tried again before the first write replaces it (a read-only folder
        // may be writable by then).
        QMutexLocker lock(&unkeptMutex);
        unkeptPaths().insert(path);
    }
    report(LoadResult::Corrupt);
    return empty;
}

void StoreFile::removeStaleTemporaries(const QString &path)
{
    const QFileInfo info(path);
    QDir dir(info.absolutePath());
    static const QRegularExpression suffix(QStringLiteral("^\\.tmp-[A-Za-z0-9]{6}$"));
    const QString prefix = info.fileName();
    const QStringList candidates = dir.entryList({prefix + QStringLiteral(".tmp-??????")}, QDir::Files | QDir::Hidden);
    for (const QString &name : candidates) {
        if (suffix.match(name.mid(prefix.size())).hasMatch())
            dir.remove(name);
    }
}

QStringList StoreFile::removeDamagedCopies(const QString &path)
{
    const QFileInfo info(path);
    QDir dir(info.absolutePath());
    QStringList failed;
    // Links and other odd entries too: only the name says what it is.
    const QStringList copies = dir.entryList({info.fileName() + QStringLiteral(".corrupt-*")},
                                             QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QString &name : copies) {
        if (!dir.remove(name))
            failed << dir.filePath(name);
    }
    return failed;
}
