#pragma once

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

// Fake `ip`, `openvpn`, `wg-quick`, `kill` and `pkexec` put first on PATH,
// and a fresh XDG_RUNTIME_DIR (the browser's pid file and tunnel state go
// there). Each tool records its command line (one line per call: tool name,
// then the arguments separated by single spaces) in calls.log.
//
// - ip prints a capture from tests/data/ip-link/ after an optional delay:
//   <sample>.json when asked with -json (or -j), else <sample>.txt.
// - openvpn with --daemon leaves a daemon behind, as the real one does: a
//   process named openvpn that writes its own pid to the --writepid file,
//   keeps the output it inherited and writes to it now and then, and ends on
//   SIGTERM. The destructor ends daemons still running.
// - wg-quick succeeds.
// - kill sends the signal; pkexec runs the command it is given, or answers
//   as a dismissed prompt (126) or a refusal (127).
// setResult() makes a tool print an error and fail instead.
class FakeTools
{
public:
    enum class PkexecAnswer { Allow, Cancel, Deny };

    FakeTools();
    ~FakeTools();

    QString binDir() const { return m_dir.path(); }
    QString runtimeDir() const { return m_dir.path() + QStringLiteral("/run"); }
    void setIpOutputFromSample(const QString &sampleName);
    void setIpDelay(double seconds) { write("ip-delay", QByteArray::number(seconds)); }
    // Every later run of tool prints errorText on stderr and exits with
    // exitCode; exit code 0 restores the tool's normal behaviour.
    void setResult(const QString &tool, int exitCode, const QByteArray &errorText = QByteArray());
    void setPkexecAnswer(PkexecAnswer answer);
    // Every later run of tool first sleeps this long (0: no more).
    void setDelay(const QString &tool, double seconds);
    // The next OpenVPN daemons write logText to their --log file and exit
    // right after writing their pid, as after a fatal error.
    void setOpenVpnDaemonFailure(const QByteArray &logText);

    QStringList calls() const; // every recorded call
    QStringList callsOf(const QString &tool) const;
    void clearCalls() { QFile::remove(binDir() + QStringLiteral("/calls.log")); }
    // Pids of the fake OpenVPN daemons started so far.
    QList<qint64> daemons() const;

    // tests/data/ip-link/<name>.<extension>
    static QByteArray sample(const QString &sampleName, const QString &extension = QStringLiteral("json"));

private:
    void write(const QString &name, const QByteArray &bytes, bool executable = false);

    QTemporaryDir m_dir;
    QByteArray m_oldPath = qgetenv("PATH");
    QByteArray m_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
};
