#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Fake `ip`, `openvpn`, `wg-quick` and `pkill` put first on PATH. Each records
// its command line (one line per call: tool name, then the arguments separated
// by single spaces) in calls.log. `ip` prints what setIpOutput() gave it,
// after an optional delay, so tests can show a tunnel, none, or a hung tool.
class FakeTools
{
public:
    FakeTools();
    ~FakeTools();

    bool isValid() const { return m_dir.isValid(); }
    QString binDir() const { return m_dir.path(); }

    void setIpOutput(const QByteArray &output);
    void setIpOutputFromSample(const QString &sampleName); // tests/data/ip-link/<name>.txt
    void setIpDelay(double seconds);

    QStringList calls() const;            // every recorded call
    QStringList callsOf(const QString &tool) const;
    void clearCalls();

    static QByteArray sample(const QString &sampleName);

private:
    void writeTool(const QString &name, const QByteArray &body);

    QTemporaryDir m_dir;
    QByteArray m_oldPath;
};
