#pragma once

#include <QTemporaryDir>

// A fresh per-test home for everything the browser writes: the configuration
// folder (data stores, token store), the cache folder (compiled filter
// lists), the temporary folder (WireGuard configurations), the runtime folder
// (printed PDF) and the download folder. A fresh profile subscribes to no
// filter list (the defaults are on the internet). The environment is
// restored when the object dies.
class TempDataDir
{
public:
    TempDataDir();
    ~TempDataDir();

    QString path() const { return m_dir.path(); }
    QString configDir() const { return path() + QStringLiteral("/config"); }          // XDG_CONFIG_HOME
    QString dataFolder() const { return configDir() + QStringLiteral("/orvexbrowser"); } // the browser's own
    QString tempDir() const { return path() + QStringLiteral("/tmp"); }               // TMPDIR
    QString downloadDir() const { return path() + QStringLiteral("/downloads"); }     // XDG_DOWNLOAD_DIR
    QString runtimeDir() const { return path() + QStringLiteral("/runtime"); }        // XDG_RUNTIME_DIR, 0700
    QString cacheDir() const { return path() + QStringLiteral("/cache"); }            // XDG_CACHE_HOME

    QString filePath(const QString &name) const { return dataFolder() + u'/' + name; }
    void writeFile(const QString &name, const QByteArray &bytes) const;
    QByteArray readFile(const QString &name) const;

private:
    static constexpr const char *Vars[] = {"XDG_CONFIG_HOME", "TMPDIR", "XDG_DOWNLOAD_DIR", "XDG_RUNTIME_DIR",
                                           "XDG_CACHE_HOME"};
    static constexpr int VarCount = 5;
    QTemporaryDir m_dir;
    QByteArray m_old[VarCount];
};
