#include "DefaultBrowser.h"

#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <signal.h>
#include <unistd.h>

namespace {
// The tool's own words, on one line and of sane length.
QString toolText(const QByteArray &bytes)
{
    QString text = QString::fromUtf8(bytes).simplified();
    if (text.size() > 300)
        text = text.left(300) + QStringLiteral("…");
    return text;
}

// Why a run did not give an answer, or an empty string when it did.
QString failure(const DefaultBrowser::Run &run, const QString &program)
{
    if (!run.started)
        return QStringLiteral("Could not run %1: it is not installed (Debian package xdg-utils).").arg(program);
    if (run.timedOut) {
        const int seconds = qMax(1, run.timeoutMs / 1000);
        return QStringLiteral("%1 did not answer within %2 %3.")
            .arg(program)
            .arg(seconds)
            .arg(seconds == 1 ? QStringLiteral("second") : QStringLiteral("seconds"));
    }
    if (run.crashed)
        return QStringLiteral("%1 stopped unexpectedly.").arg(program);
    if (run.exitCode != 0) {
        QString error = toolText(run.errorOutput.isEmpty() ? run.output : run.errorOutput);
        // xdg-utils often fails without a word; its exit codes are documented.
        if (error.isEmpty()) {
            switch (run.exitCode) {
            case 1: error = QStringLiteral("it did not understand the request"); break;
            case 2: error = QStringLiteral("the browser's desktop entry was not found; install OrvexBrowser first"); break;
            case 3: error = QStringLiteral("a program it needs is missing"); break;
            case 4: error = QStringLiteral("the desktop refused the change"); break;
            default: break;
            }
        }
        return error.isEmpty() ? QStringLiteral("%1 failed (exit code %2).").arg(program).arg(run.exitCode)
                               : QStringLiteral("%1 failed (exit code %2): %3").arg(program).arg(run.exitCode).arg(error);
    }
    return QString();
}
}

DefaultBrowser::DefaultBrowser(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { onDone(true); });
}

DefaultBrowser::~DefaultBrowser()
{
    // Closing the settings while the tool runs: end it rather than wait for it.
    if (m_process) {
        stop(m_process);
        m_process->waitForFinished(1000);
    }
}

void DefaultBrowser::stop(QProcess *process)
{
    if (const qint64 pid = process->processId(); pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
    process->kill();
}

DefaultBrowser::Outcome DefaultBrowser::checkOutcome(const Run &run, const QString &program)
{
    if (const QString why = failure(run, program); !why.isEmpty())
        return {State::Failed, why};
    const QString answer = QString::fromUtf8(run.output).trimmed().toLower();
    if (answer == QLatin1String("yes"))
        return {State::IsDefault, QStringLiteral("OrvexBrowser is your default web browser.")};
    if (answer == QLatin1String("no"))
        return {State::NotDefault, QStringLiteral("OrvexBrowser is not your default web browser.")};
    return {State::Failed, QStringLiteral("%1 gave an unexpected answer: %2").arg(program, toolText(run.output))};
}

DefaultBrowser::Outcome DefaultBrowser::setOutcome(const Run &run, const QString &program)
{
    if (const QString why = failure(run, program); !why.isEmpty())
        return {State::Failed, why};
    return {State::IsDefault, QString()};
}

void DefaultBrowser::check()
{
    start(Step::Check, {QStringLiteral("check"), QStringLiteral("default-web-browser"), m_desktopId});
}

void DefaultBrowser::makeDefault()
{
    start(Step::Set, {QStringLiteral("set"), QStringLiteral("default-web-browser"), m_desktopId});
}

void DefaultBrowser::start(Step step, const QStringList &arguments)
{
    if (m_process)
        return;
    m_step = step;
    m_process = new QProcess(this);
    m_process->setProgram(m_program);
    m_process->setArguments(arguments);
    m_process->setStandardInputFile(QProcess::nullDevice());
    // Its own process group: xdg-settings is a script, and a hung run is
    // ended with everything it started.
    m_process->setChildProcessModifier([] { ::setpgid(0, 0); });
    QProcess *process = m_process;
    connect(process, &QProcess::finished, this, [this, process] {
        if (process == m_process)
            onDone(false);
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (process == m_process && error == QProcess::FailedToStart)
            onDone(false);
    });
    m_timer->start(m_timeoutMs);
    process->start();
}

void DefaultBrowser::onDone(bool timedOut)
{
    QProcess *process = m_process;
    if (!process)
        return;
    m_process = nullptr;
    m_timer->stop();
    Run run;
    run.timedOut = timedOut;
    run.timeoutMs = m_timeoutMs;
    run.started = process->error() != QProcess::FailedToStart;
    if (timedOut) {
        stop(process);
        // Gone once the kill has been reaped, never waited for here.
        connect(process, &QProcess::finished, process, &QObject::deleteLater);
    } else {
        if (run.started) {
            run.crashed = process->exitStatus() == QProcess::CrashExit;
            run.exitCode = process->exitCode();
            run.output = process->readAllStandardOutput();
            run.errorOutput = process->readAllStandardError();
        }
        process->deleteLater();
    }
    // Messages name the tool, not where a test put it.
    const QString program = QFileInfo(m_program).fileName();

    if (m_step == Step::Check) {
        emit finished(checkOutcome(run, program));
        return;
    }
    const Outcome set = setOutcome(run, program);
    if (set.state == State::Failed) {
        emit finished(set);
        return;
    }
    check();
}
