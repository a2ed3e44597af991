#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class QProcess;
class QTimer;

// Asks the desktop, through xdg-settings, whether this browser is the default
// web browser and makes it the default. Both run the tool asynchronously; the
// answer (or why there is none) arrives through finished().
class DefaultBrowser : public QObject
{
    Q_OBJECT
public:
    enum class State { IsDefault, NotDefault, Failed };
    struct Outcome {
        State state = State::Failed;
        QString message; // for the user; may quote the tool's error output
    };
    static constexpr int defaultTimeoutMs = 30000; // a first run on a busy desktop can take a while

    // How one run of the tool ended.
    struct Run {
        bool started = true;
        bool timedOut = false;
        int timeoutMs = defaultTimeoutMs;
        bool crashed = false;
        int exitCode = 0;
        QByteArray output;
        QByteArray errorOutput;
    };

    explicit DefaultBrowser(QObject *parent = nullptr);
    ~DefaultBrowser() override;

    static QString defaultProgram() { return QStringLiteral("xdg-settings"); }
    static QString defaultDesktopId() { return QStringLiteral("net.orvexvpn.OrvexBrowser.desktop"); }

    void setProgram(const QString &program) { m_program = program; }
    QString program() const { return m_program; }
    void setDesktopId(const QString &id) { m_desktopId = id; }
    void setTimeout(int ms) { m_timeoutMs = ms; }

    // Ignored while a run is under way.
    void check();
    void makeDefault(); // then checks again, so finished() reports the new state
    bool isBusy() const { return m_process != nullptr; }

    // Pure: what a finished run means.
    static Outcome checkOutcome(const Run &run, const QString &program);
    static Outcome setOutcome(const Run &run, const QString &program);

Q_SIGNALS:
    void finished(const DefaultBrowser::Outcome &outcome);

private:
    enum class Step { Check, Set };
    void start(Step step, const QStringList &arguments);
    void onDone(bool timedOut);
    static void stop(QProcess *process);

    QString m_program = defaultProgram();
    QString m_desktopId = defaultDesktopId();
    int m_timeoutMs = defaultTimeoutMs;
    QPointer<QProcess> m_process;
    QTimer *m_timer = nullptr;
    Step m_step = Step::Check;
};
