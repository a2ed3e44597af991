#pragma once

#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>

class QTimer;

// Runs one tunnel tool (openvpn, wg-quick, kill) off the GUI thread's back,
// through pkexec when we are not root, and judges how it ended.
//
// The tool's output goes to an unlinked file in a private folder, never to a
// pipe: openvpn --daemon and wireguard-go keep the descriptors they inherit,
// and a pipe would block them while nobody reads it, or kill them with
// SIGPIPE once closed (at the latest when the browser quits). The file is read
// once the tool itself has exited; whatever a daemon writes later is lost with
// the file when the daemon ends.
class TunnelTool : public QObject
{
    Q_OBJECT
public:
    enum class Result { Succeeded, Failed, Cancelled };
    struct Outcome {
        Result result = Result::Failed;
        QString detail; // for the user, empty on success
        QString output; // the tool's last lines
    };

    // What runs: the tool, or pkexec with the tool's full path. missing names
    // a program that is not installed; then nothing can run.
    struct Invocation {
        QString tool; // the name the user knows ("wg-quick")
        QString program;
        QStringList arguments;
        bool viaPkexec = false;
        QString missing;
    };

    static Invocation invocation(const QString &tool, const QStringList &arguments, bool asRoot,
                                 const QString &pkexec);
    // PATH first, then the sbin folders a desktop user's PATH often lacks.
    static QString findProgram(const QString &name);
    // The Debian package that installs a tool.
    static QString packageFor(const QString &tool);
    // The last count non-empty lines, control characters removed, each cut
    // to a readable length.
    static QString lastLines(const QByteArray &output, int count = 3);

    struct Ending {
        bool started = true;
        bool crashed = false; // killed by a signal, including our own kill at the time limit
        bool timedOut = false;
        int exitCode = 0;
        QByteArray output;
    };
    static Outcome judge(const Invocation &run, const Ending &ending);

    explicit TunnelTool(QObject *parent = nullptr);
    ~TunnelTool() override;

    // Runs once; finished() follows, also for a tool that is missing or
    // cannot start. After timeoutMs the tool is killed and reported as such.
    void start(const Invocation &run, int timeoutMs, const QString &outputFolder);
    bool isRunning() const { return !m_done; }

signals:
    void finished(const TunnelTool::Outcome &outcome);

private:
    void finish(const Ending &ending);
    QByteArray takeOutput();

    Invocation m_run;
    QPointer<QProcess> m_process;
    QTimer *m_killTimer = nullptr;
    int m_outputFd = -1;
    bool m_timedOut = false;
    bool m_done = false;
};
