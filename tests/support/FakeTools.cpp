#include "FakeTools.h"

#include <QDir>
#include <QRegularExpression>

#include <csignal>
#include <sys/stat.h>

namespace {
// The tool's name as called (not "$0": pkexec runs us by full path). One
// write per call: the probe's ip runs beside the other tools, and lines
// written piece by piece got mixed.
QByteArray recordCall(const QByteArray &name, const QByteArray &log)
{
    return "line='" + name + "'; for a in \"$@\"; do line=\"$line $a\"; done\n"
           "printf '%s\\n' \"$line\" >> '" + log + "'\n";
}

// Waits and fails as told by setDelay() and setResult().
QByteArray failIfTold(const QByteArray &name, const QByteArray &dir)
{
    return "[ -f '" + dir + "/" + name + ".delay' ] && sleep \"$(cat '" + dir + "/" + name + ".delay')\"\n"
           "if [ -f '" + dir + "/" + name + ".exit' ]; then cat '" + dir + "/" + name + ".stderr' >&2; exit \"$(cat '" + dir + "/"
           + name + ".exit')\"; fi\n";
}
}

FakeTools::FakeTools()
{
    const QByteArray dir = binDir().toLocal8Bit(), log = dir + "/calls.log";
    auto tool = [&](const QByteArray &name, const QByteArray &body) {
        write(QString::fromLatin1(name), "#!/bin/sh\n" + body, true);
    };
    tool("ip", recordCall("ip", log) + "sleep \"$(cat '" + dir + "/ip-delay')\"\n"
               "case \" $* \" in *\" -json \"*|*\" -j \"*) cat '" + dir + "/ip-output.json' ;; *) cat '" + dir + "/ip-output.txt' ;; esac\n");
    tool("openvpn",
         "if [ \"$1\" = --fake-daemon ]; then\n"
         "  echo $$ > \"$3\"\n"
         "  echo $$ >> '" + dir + "/daemons'\n"
         "  if [ -f '" + dir + "/openvpn-daemon-fails' ]; then cat '" + dir + "/openvpn-daemon-fails' >> \"$5\"; exit 1; fi\n"
         "  trap 'exit 0' TERM\n"
         // Writes into what it inherited, like a daemon that logs to stderr;
         // gives up after ten minutes should a crashed test leave it behind.
         "  n=0; while [ $n -lt 3000 ]; do echo 'openvpn: still running' >&2; sleep 0.2; n=$((n+1)); done\n"
         "fi\n"
         + recordCall("openvpn", log) + failIfTold("openvpn", dir) +
         "pidfile=; log=/dev/null; prev=\n"
         "for a in \"$@\"; do\n"
         "  [ \"$prev\" = --writepid ] && pidfile=$a\n"
         "  [ \"$prev\" = --log ] && log=$a\n"
         "  prev=$a\n"
         "done\n"
         "case \" $* \" in *\" --daemon \"*) \"$0\" --fake-daemon --writepid \"$pidfile\" --log \"$log\" </dev/null & ;; esac\n"
         "exit 0\n");
    tool("wg-quick", recordCall("wg-quick", log) + failIfTold("wg-quick", dir) + "exit 0\n");
    tool("kill", recordCall("kill", log) + failIfTold("kill", dir) + "kill \"$@\"\n");
    tool("pkexec", recordCall("pkexec", log) + failIfTold("pkexec", dir) +
                       "[ -x \"$1\" ] || { echo \"Cannot run program $1: No such file or directory\" >&2; exit 127; }\n"
                       "exec \"$@\"\n");
    setIpDelay(0);
    setIpOutputFromSample(QStringLiteral("host-no-tunnel"));
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("PATH", dir + ":" + m_oldPath);
    qputenv("XDG_RUNTIME_DIR", runtimeDir().toLocal8Bit());
}

FakeTools::~FakeTools()
{
    // Only our own daemons: the pid must still run a script from our folder.
    for (const qint64 pid : daemons()) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(binDir().toLocal8Bit()))
            ::kill(pid_t(pid), SIGKILL);
    }
    qputenv("PATH", m_oldPath);
    m_oldRuntime.isEmpty() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
}

void FakeTools::setIpOutputFromSample(const QString &sampleName)
{
    write(QStringLiteral("ip-output.json"), sample(sampleName));
    write(QStringLiteral("ip-output.txt"), sample(sampleName, QStringLiteral("txt")));
}

void FakeTools::setResult(const QString &tool, int exitCode, const QByteArray &errorText)
{
    if (exitCode == 0) {
        QFile::remove(binDir() + u'/' + tool + QStringLiteral(".exit"));
        return;
    }
    write(tool + QStringLiteral(".stderr"), errorText);
    write(tool + QStringLiteral(".exit"), QByteArray::number(exitCode));
}

void FakeTools::setDelay(const QString &tool, double seconds)
{
    if (seconds > 0)
        write(tool + QStringLiteral(".delay"), QByteArray::number(seconds));
    else
        QFile::remove(binDir() + u'/' + tool + QStringLiteral(".delay"));
}

void FakeTools::setOpenVpnDaemonFailure(const QByteArray &logText)
{
    write(QStringLiteral("openvpn-daemon-fails"), logText);
}

void FakeTools::setPkexecAnswer(PkexecAnswer answer)
{
    switch (answer) {
    case PkexecAnswer::Allow:
        setResult(QStringLiteral("pkexec"), 0);
        break;
    case PkexecAnswer::Cancel:
        setResult(QStringLiteral("pkexec"), 126, "Error executing command as another user: Request dismissed\n");
        break;
    case PkexecAnswer::Deny:
        setResult(QStringLiteral("pkexec"), 127, "Error executing command as another user: Not authorized\n\n"
                                                 "This incident has been reported.\n");
        break;
    }
}

void FakeTools::write(const QString &name, const QByteArray &bytes, bool executable)
{
    QFile f(binDir() + u'/' + name);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
    if (executable)
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QStringList FakeTools::calls() const
{
    QFile f(binDir() + QStringLiteral("/calls.log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts) : QStringList();
}

QStringList FakeTools::callsOf(const QString &tool) const
{
    return calls().filter(QRegularExpression(u'^' + QRegularExpression::escape(tool) + QStringLiteral("( |$)")));
}

QList<qint64> FakeTools::daemons() const
{
    QList<qint64> pids;
    QFile f(binDir() + QStringLiteral("/daemons"));
    if (f.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : f.readAll().split('\n'))
            if (const qint64 pid = line.trimmed().toLongLong(); pid > 1)
                pids.append(pid);
    }
    return pids;
}

QByteArray FakeTools::sample(const QString &sampleName, const QString &extension)
{
    QFile f(QStringLiteral(ORVEX_TEST_DATA_DIR "/ip-link/") + sampleName + u'.' + extension);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
