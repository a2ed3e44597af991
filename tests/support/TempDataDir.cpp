#include "TempDataDir.h"

#include "FilterListManager.h"

#include <QDir>

TempDataDir::TempDataDir()
{
    const QString dirs[] = {configDir(), tempDir(), downloadDir(), runtimeDir(), cacheDir()};
    for (int i = 0; i < VarCount; ++i) {
        m_old[i] = qgetenv(Vars[i]);
        QDir().mkpath(dirs[i]);
        qputenv(Vars[i], dirs[i].toLocal8Bit());
    }
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    FilterListManager::setDefaultLists({});
    // QStandardPaths takes the download folder from user-dirs.dirs.
    QFile userDirs(configDir() + QStringLiteral("/user-dirs.dirs"));
    if (userDirs.open(QIODevice::WriteOnly))
        userDirs.write("XDG_DOWNLOAD_DIR=\"" + downloadDir().toLocal8Bit() + "\"\n");
}

TempDataDir::~TempDataDir()
{
    FilterListManager::resetDefaultLists();
    for (int i = 0; i < VarCount; ++i)
        m_old[i].isEmpty() ? qunsetenv(Vars[i]) : qputenv(Vars[i], m_old[i]);
}

void TempDataDir::writeFile(const QString &name, const QByteArray &bytes) const
{
    QDir().mkpath(QFileInfo(filePath(name)).absolutePath());
    QFile f(filePath(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray TempDataDir::readFile(const QString &name) const
{
    QFile f(filePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
