#pragma once

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

// Fake `ip`, `openvpn`, `wg-quick` and `pkill` put first on PATH. Each records
// its command line (one line per call: tool name, then the arguments separated
// by single spaces) in calls.log. `ip` prints a sample capture, after an
// optional delay, so tests can show a tunnel, none, or a hung tool.
class FakeTools
{
public:
    FakeTools();
    ~FakeTools() { qputenv("PATH", m_oldPath); }

    QString binDir() const { return m_dir.path(); }
    void setIpOutputFromSample(const QString &sampleName) { write("ip-output", sample(sampleName)); }
    void setIpDelay(double seconds) { write("ip-delay", QByteArray::number(seconds)); }

    QStringList calls() const; // every recorded call
    QStringList callsOf(const QString &tool) const;
    void clearCalls() { QFile::remove(binDir() + QStringLiteral("/calls.log")); }

    static QByteArray sample(const QString &sampleName); // tests/data/ip-link/<name>.txt

private:
    void write(const char *name, const QByteArray &bytes, bool executable = false);

    QTemporaryDir m_dir;
    QByteArray m_oldPath = qgetenv("PATH");
};
