#include "FakeTools.h"

#include <QRegularExpression>

FakeTools::FakeTools()
{
    const QByteArray dir = binDir().toLocal8Bit(), log = dir + "/calls.log";
    const QByteArray record = "#!/bin/sh\nprintf '%s' \"$(basename \"$0\")\" >> '" + log + "'\n"
                              "for a in \"$@\"; do printf ' %s' \"$a\" >> '" + log + "'; done\n"
                              "printf '\\n' >> '" + log + "'\n";
    write("ip", record + "sleep \"$(cat '" + dir + "/ip-delay')\"\ncat '" + dir + "/ip-output'\n", true);
    write("openvpn", record, true);
    write("wg-quick", record, true);
    write("pkill", record + "exit 1\n", true);
    setIpDelay(0);
    setIpOutputFromSample(QStringLiteral("host-no-tunnel"));
    qputenv("PATH", dir + ":" + m_oldPath);
}

void FakeTools::write(const char *name, const QByteArray &bytes, bool executable)
{
    QFile f(binDir() + u'/' + QLatin1String(name));
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

QByteArray FakeTools::sample(const QString &sampleName)
{
    QFile f(QStringLiteral(ORVEX_TEST_DATA_DIR "/ip-link/") + sampleName + QStringLiteral(".txt"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
