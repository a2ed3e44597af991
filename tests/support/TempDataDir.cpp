#include "TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

TempDataDir::TempDataDir()
    : m_oldConfig(qgetenv("XDG_CONFIG_HOME"))
    , m_oldTmp(qgetenv("TMPDIR"))
    , m_oldDownload(qgetenv("XDG_DOWNLOAD_DIR"))
{
    QDir root(m_dir.path());
    root.mkpath(QStringLiteral("config"));
    root.mkpath(QStringLiteral("tmp"));
    root.mkpath(QStringLiteral("downloads"));
    qputenv("XDG_CONFIG_HOME", configDir().toLocal8Bit());
    qputenv("TMPDIR", tempDir().toLocal8Bit());
    qputenv("XDG_DOWNLOAD_DIR", downloadDir().toLocal8Bit());
    // QStandardPaths takes the download folder from user-dirs.dirs.
    QFile dirs(configDir() + QStringLiteral("/user-dirs.dirs"));
    if (dirs.open(QIODevice::WriteOnly))
        dirs.write("XDG_DOWNLOAD_DIR=\"" + downloadDir().toLocal8Bit() + "\"\n");
}

static void restoreEnv(const char *name, const QByteArray &value)
{
    if (value.isEmpty())
        qunsetenv(name);
    else
        qputenv(name, value);
}

TempDataDir::~TempDataDir()
{
    restoreEnv("XDG_CONFIG_HOME", m_oldConfig);
    restoreEnv("TMPDIR", m_oldTmp);
    restoreEnv("XDG_DOWNLOAD_DIR", m_oldDownload);
}

QString TempDataDir::configDir() const { return m_dir.path() + QStringLiteral("/config"); }
QString TempDataDir::dataFolder() const { return configDir() + QStringLiteral("/orvexbrowser"); }
QString TempDataDir::tempDir() const { return m_dir.path() + QStringLiteral("/tmp"); }
QString TempDataDir::downloadDir() const { return m_dir.path() + QStringLiteral("/downloads"); }
QString TempDataDir::filePath(const QString &name) const { return dataFolder() + QLatin1Char('/') + name; }

void TempDataDir::writeFile(const QString &name, const QByteArray &bytes) const
{
    const QString p = filePath(name);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray TempDataDir::readFile(const QString &name) const
{
    QFile f(filePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
