#include "TunnelTool.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr qint64 outputTail = 16 * 1024;
constexpr int lineLength = 300;

int openOutputFile(const QString &folder)
{
    if (folder.isEmpty())
        return -1;
    const QByteArray dir = QFile::encodeName(folder);
    int fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    // Filesystems without O_TMPFILE: a unique name, removed at once.
    QByteArray name = dir + "/.tool-output-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.constData());
    return fd;
}
}

TunnelTool::TunnelTool(QObject *parent)
    : QObject(parent)
{
}

TunnelTool::~TunnelTool()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        disconnect(m_process, nullptr, this, nullptr);
        m_process->kill();
        // A tool running as root through pkexec cannot be killed by us, and
        // QProcess's destructor would wait 30 s for it: let it go instead.
        if (!m_process->waitForFinished(1000))
            m_process->setParent(nullptr);
    }
    if (m_outputFd >= 0)
        ::close(m_outputFd);
}

QString TunnelTool::findProgram(const QString &name)
{
    if (name.isEmpty())
        return {};
    const QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty() || name.contains(QLatin1Char('/')))
        return found;
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/sbin"),
                                                 QStringLiteral("/sbin")});
}

QString TunnelTool::packageFor(const QString &tool)
{
    if (tool == QLatin1String("wg-quick"))
        return QStringLiteral("wireguard-tools");
    if (tool == QLatin1String("kill"))
        return QStringLiteral("procps");
    return tool; // openvpn, pkexec
}

TunnelTool::Invocation TunnelTool::invocation(const QString &tool, const QStringList &arguments, bool asRoot,
                                              const QString &pkexec)
{
    Invocation run;
    run.tool = QFileInfo(tool).fileName();
    const QString path = findProgram(tool);
    if (path.isEmpty()) {
        run.missing = run.tool;
        return run;
    }
    if (asRoot) {
        run.program = path;
        run.arguments = arguments;
        return run;
    }
    run.viaPkexec = true;
    run.program = findProgram(pkexec);
    if (run.program.isEmpty())
        run.missing = QFileInfo(pkexec).fileName();
    run.arguments = QStringList{path} + arguments;
    return run;
}

QString TunnelTool::lastLines(const QByteArray &output, int count)
{
    QStringList kept;
    const QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'));
    for (auto it = lines.crbegin(); it != lines.crend() && kept.size() < count; ++it) {
        QString line;
        for (const QChar c : *it) {
            if (c == QLatin1Char('\t'))
                line += QLatin1Char(' ');
            else if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format)
                line += c;
        }
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (line.size() > lineLength)
            line = line.left(lineLength - 1) + QChar(0x2026);
        kept.prepend(line);
    }
    return kept.join(QLatin1Char('\n'));
}

TunnelTool::Outcome TunnelTool::judge(const Invocation &run, const Ending &ending)
{
    Outcome outcome;
    outcome.output = lastLines(ending.output);
    auto failed = [&outcome](const QString &detail) {
        outcome.result = Result::Failed;
        outcome.detail = detail;
        return outcome;
    };
    if (!run.missing.isEmpty()) {
        if (run.missing != run.tool)
            return failed(QStringLiteral("%1 was not found; it is needed to run %2 as administrator. Install %3.")
                              .arg(run.missing, run.tool, packageFor(run.missing)));
        return failed(QStringLiteral("%1 was not found. Install %2.").arg(run.tool, packageFor(run.tool)));
    }
    if (!ending.started)
        return failed(QStringLiteral("%1 could not be started.").arg(run.viaPkexec ? QStringLiteral("pkexec") : run.tool));
    if (ending.timedOut)
        return failed(QStringLiteral("%1 did not finish in time and was stopped.").arg(run.tool));
    if (ending.crashed)
        return failed(QStringLiteral("%1 stopped unexpectedly.").arg(run.tool));
    if (run.viaPkexec && ending.exitCode == 126) {
        outcome.result = Result::Cancelled;
        outcome.detail = QStringLiteral("the administrator password prompt was cancelled.");
        return outcome;
    }
    if (run.viaPkexec && ending.exitCode == 127) {
        const QString why = QStringLiteral("not authorised to run %1 as administrator.").arg(run.tool);
        return failed(outcome.output.isEmpty() ? why : why + QLatin1Char('\n') + outcome.output);
    }
    if (ending.exitCode == 0) {
        outcome.result = Result::Succeeded;
        return outcome;
    }
    if (outcome.output.isEmpty())
        return failed(QStringLiteral("%1 failed with exit status %2.").arg(run.tool).arg(ending.exitCode));
    return failed(outcome.output);
}

void TunnelTool::start(const Invocation &run, int timeoutMs, const QString &outputFolder)
{
    m_run = run;
    if (!run.missing.isEmpty()) {
        // Reported from the event loop, like every other ending.
        QTimer::singleShot(0, this, [this] { finish({false, false, false, 0, {}}); });
        return;
    }
    m_outputFd = openOutputFile(outputFolder);
    auto *process = new QProcess(this);
    m_process = process;
    process->setProgram(run.program);
    process->setArguments(run.arguments);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    if (m_outputFd >= 0) {
        const int fd = m_outputFd;
        // Runs in the child after QProcess has set up its descriptors.
        process->setChildProcessModifier([fd] {
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
        });
    }
    connect(process, &QProcess::finished, this, [this, process](int exitCode, QProcess::ExitStatus status) {
        if (process == m_process)
            finish({true, status != QProcess::NormalExit, false, exitCode, takeOutput()});
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && process == m_process)
            finish({false, false, false, 0, {}});
    });
    m_killTimer = new QTimer(this);
    m_killTimer->setSingleShot(true);
    connect(m_killTimer, &QTimer::timeout, this, [this, process] {
        if (process != m_process || m_done)
            return;
        // Reported at once: a tool running as root may not die from our
        // kill. The process object goes when the process does.
        disconnect(process, nullptr, this, nullptr);
        connect(process, &QProcess::finished, process, &QObject::deleteLater);
        process->setParent(nullptr);
        process->kill();
        m_process = nullptr;
        finish({true, true, true, -1, takeOutput()});
    });
    m_killTimer->start(timeoutMs);
    process->start();
}

QByteArray TunnelTool::takeOutput()
{
    if (m_outputFd < 0)
        return {};
    QByteArray bytes;
    struct stat st {};
    if (::fstat(m_outputFd, &st) == 0 && st.st_size > 0) {
        const qint64 from = qMax<qint64>(0, st.st_size - outputTail);
        bytes.resize(qsizetype(st.st_size - from));
        const ssize_t got = ::pread(m_outputFd, bytes.data(), size_t(bytes.size()), off_t(from));
        bytes.resize(got > 0 ? qsizetype(got) : 0);
    }
    ::close(m_outputFd);
    m_outputFd = -1;
    return bytes;
}

void TunnelTool::finish(const Ending &ending)
{
    if (m_done)
        return;
    m_done = true;
    if (m_killTimer)
        m_killTimer->stop();
    emit finished(judge(m_run, ending));
}
