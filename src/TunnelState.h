#pragma once

#include <QList>
#include <QString>

#include <sys/types.h>

// What this browser brought up and has not yet taken down, kept in a private
// folder so that a browser started later can take it down again and leaves
// everything else alone: the OpenVPN started with --writepid (its pid file
// and log live beside the state) and the WireGuard configurations brought up
// with wg-quick, oldest first.
//
// The folder is $XDG_RUNTIME_DIR/orvexbrowser, or the data folder when there
// is no runtime folder; it also holds the copies of configurations whose
// names wg-quick refuses.
class TunnelState
{
public:
    struct WireGuard {
        QString config;        // the path given to wg-quick
        QString interfaceName; // from the file name
        bool copied = false;   // a copy of ours, removed once down
    };

    explicit TunnelState(const QString &folder = QString());

    static QString defaultFolder();
    QString folder() const { return m_folder; }
    QString statePath() const { return m_folder + QStringLiteral("/tunnels.json"); }
    QString pidFilePath() const { return m_folder + QStringLiteral("/openvpn.pid"); }
    QString logPath() const { return m_folder + QStringLiteral("/openvpn.log"); }

    bool openVpnStarted = false;
    QString openVpnConfig;
    QList<WireGuard> wireGuard;

    bool isEmpty() const { return !openVpnStarted && wireGuard.isEmpty(); }
    // Missing or unreadable state is empty.
    void load();
    // Atomic, 0600. False when the folder or file could not be written.
    bool save() const;
    // Creates the folder (0700) when missing; false with a reason when it is
    // not a folder of ours that only we can write.
    bool ensureFolder(QString *why = nullptr) const;

    // The pid in a pid file (first line), or 0.
    static pid_t readPid(const QString &pidFile);
    // Our OpenVPN: alive (not a zombie), named openvpn, and started with
    // --writepid pidFile. Reads /proc/<pid>/stat and cmdline.
    static bool isOurOpenVpn(pid_t pid, const QString &pidFile);
    // The decision of isOurOpenVpn on the two /proc files' bytes.
    static bool looksLikeOurOpenVpn(const QByteArray &stat, const QByteArray &cmdline, const QString &pidFile);
    // Alive and not a zombie.
    static bool isAlive(pid_t pid);

private:
    QString m_folder;
};
