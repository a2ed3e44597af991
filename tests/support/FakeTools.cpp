#include "FakeTools.h"

#include <QFile>

FakeTools::FakeTools()
    : m_oldPath(qgetenv("PATH"))
{
    const QByteArray log = m_dir.path().toLocal8Bit() + "/calls.log";
    const QByteArray record = "printf '%s' \"$(basename \"$0\")\" >> '" + log + "'\n"
                              "for a in \"$@\"; do printf ' %s' \"$a\" >> '" + log + "'; done\n"
                              "printf '\\n' >> '" + log + "'\n";
    const QByteArray dir = m_dir.path().toLocal8Bit();
    writeTool(QStringLiteral("ip"), record
              + "if [ -f '" + dir + "/ip-delay' ]; then sleep \"$(cat '" + dir + "/ip-delay')\"; fi\n"
              + "cat '" + dir + "/ip-output' 2>/dev/null\nexit 0\n");
    writeTool(QStringLiteral("openvpn"), record + "exit 0\n");
    writeTool(QStringLiteral("wg-quick"), record + "exit 0\n");
    writeTool(QStringLiteral("pkill"), record + "exit 1\n");
    setIpOutputFromSample(QStringLiteral("host-no-tunnel"));
    qputenv("PATH", dir + ":" + m_oldPath);
}

FakeTools::~FakeTools()
{
    qputenv("PATH", m_oldPath);
}

void FakeTools::writeTool(const QString &name, const QByteArray &body)
{
    QFile f(m_dir.path() + QLatin1Char('/') + name);
    if (f.open(QIODevice::WriteOnly)) {
        f.write("#!/bin/sh\n" + body);
        f.close();
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                         | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
    }
}

void FakeTools::setIpOutput(const QByteArray &output)
{
    QFile f(m_dir.path() + QStringLiteral("/ip-output"));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(output);
}

void FakeTools::setIpOutputFromSample(const QString &sampleName)
{
    setIpOutput(sample(sampleName));
}

void FakeTools::setIpDelay(double seconds)
{
    QFile f(m_dir.path() + QStringLiteral("/ip-delay"));
    if (seconds <= 0) {
        f.remove();
        return;
    }
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(QByteArray::number(seconds));
}

QStringList FakeTools::calls() const
{
    QFile f(m_dir.path() + QStringLiteral("/calls.log"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList FakeTools::callsOf(const QString &tool) const
{
    QStringList out;
    for (const QString &c : calls()) {
        if (c == tool || c.startsWith(tool + QLatin1Char(' ')))
            out << c;
    }
    return out;
}

void FakeTools::clearCalls()
{
    QFile::remove(m_dir.path() + QStringLiteral("/calls.log"));
}

QByteArray FakeTools::sample(const QString &sampleName)
{
    QFile f(QStringLiteral(ORVEX_TEST_DATA_DIR "/ip-link/") + sampleName + QStringLiteral(".txt"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
