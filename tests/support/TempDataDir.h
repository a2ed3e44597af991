#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A fresh per-test home for everything the browser writes: the configuration
// folder (data stores, token store), the temporary folder (WireGuard
// configurations, printed PDF) and the download folder. The environment is
// restored when the object dies.
class TempDataDir
{
public:
    TempDataDir();
    ~TempDataDir();

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString configDir() const;   // XDG_CONFIG_HOME
    QString dataFolder() const;  // configDir()/orvexbrowser
    QString tempDir() const;     // TMPDIR
    QString downloadDir() const; // XDG_DOWNLOAD_DIR

    QString filePath(const QString &name) const; // in dataFolder()
    void writeFile(const QString &name, const QByteArray &bytes) const;
    QByteArray readFile(const QString &name) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldConfig, m_oldTmp, m_oldDownload, m_oldHome;
};
