#include "TunnelState.h"

#include "StoreFile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray readSmallFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(64 * 1024) : QByteArray();
}
}

TunnelState::TunnelState(const QString &folder)
    : m_folder(folder.isEmpty() ? defaultFolder() : folder)
{
}

QString TunnelState::defaultFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir())
        return runtime + QStringLiteral("/orvexbrowser");
    return QStandardPaths::writableLocation(QStandardPaths::ConfigLocation) + QStringLiteral("/orvexbrowser");
}

bool TunnelState::ensureFolder(QString *why) const
{
    const QByteArray path = QFile::encodeName(m_folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno == ENOENT) {
        QDir().mkpath(QFileInfo(m_folder).absolutePath());
        ::mkdir(path.constData(), 0700);
    }
    // The data folder may be a link of the user's own; what it leads to must
    // be ours and closed to others, since root runs what we put there.
    struct stat st {};
    QString problem;
    if (::stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        problem = QStringLiteral("the folder %1 could not be created.").arg(m_folder);
    else if (st.st_uid != ::geteuid() || (st.st_mode & 022))
        problem = QStringLiteral("the folder %1 is not private to this user.").arg(m_folder);
    if (why)
        *why = problem;
    return problem.isEmpty();
}

void TunnelState::load()
{
    openVpnStarted = false;
    openVpnConfig.clear();
    wireGuard.clear();
    if (!QFileInfo::exists(statePath()))
        return;
    const QJsonObject root = StoreFile::readJson(statePath(), StoreFile::JsonType::Object).object();
    const QJsonObject openvpn = root.value(QLatin1String("openvpn")).toObject();
    openVpnStarted = !openvpn.isEmpty();
    openVpnConfig = openvpn.value(QLatin1String("config")).toString();
    for (const QJsonValue &value : root.value(QLatin1String("wireguard")).toArray()) {
        const QJsonObject entry = value.toObject();
        WireGuard wg{entry.value(QLatin1String("config")).toString(), entry.value(QLatin1String("interface")).toString(),
                     entry.value(QLatin1String("copied")).toBool()};
        if (QDir::isAbsolutePath(wg.config))
            wireGuard.append(wg);
    }
}

bool TunnelState::save() const
{
    if (isEmpty() && !QFileInfo::exists(statePath()))
        return true;
    QJsonObject root;
    if (openVpnStarted)
        root.insert(QStringLiteral("openvpn"), QJsonObject{{QStringLiteral("config"), openVpnConfig},
                                                           {QStringLiteral("pidFile"), pidFilePath()}});
    QJsonArray list;
    for (const WireGuard &wg : wireGuard)
        list.append(QJsonObject{{QStringLiteral("config"), wg.config},
                                {QStringLiteral("interface"), wg.interfaceName},
                                {QStringLiteral("copied"), wg.copied}});
    root.insert(QStringLiteral("wireguard"), list);
    return ensureFolder() && StoreFile::writeJson(statePath(), QJsonDocument(root), StoreFile::Access::Secret);
}

pid_t TunnelState::readPid(const QString &pidFile)
{
    const QByteArray text = readSmallFile(pidFile);
    bool ok = false;
    const qlonglong pid = text.left(text.indexOf('\n')).trimmed().toLongLong(&ok);
    return ok && pid > 1 && pid <= 0x7fffffff ? pid_t(pid) : 0;
}

bool TunnelState::looksLikeOurOpenVpn(const QByteArray &stat, const QByteArray &cmdline, const QString &pidFile)
{
    // "<pid> (<comm>) <state> ...": comm may itself hold ") ".
    const qsizetype open = stat.indexOf(" ("), close = stat.lastIndexOf(") ");
    if (open < 0 || close < open)
        return false;
    const QByteArray comm = stat.mid(open + 2, close - open - 2), state = stat.mid(close + 2, 1);
    if (comm != "openvpn" || state.isEmpty() || state == "Z" || state == "X")
        return false;
    const QList<QByteArray> args = cmdline.split('\0');
    const QByteArray wanted = QFile::encodeName(pidFile);
    for (qsizetype i = 0; i + 1 < args.size(); ++i) {
        if (args.at(i) == "--writepid" && args.at(i + 1) == wanted)
            return true;
    }
    return false;
}

bool TunnelState::isOurOpenVpn(pid_t pid, const QString &pidFile)
{
    if (pid <= 1)
        return false;
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    return looksLikeOurOpenVpn(readSmallFile(proc + QStringLiteral("stat")), readSmallFile(proc + QStringLiteral("cmdline")),
                               pidFile);
}

bool TunnelState::isAlive(pid_t pid)
{
    if (pid <= 1)
        return false;
    const QByteArray stat = readSmallFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(") ");
    if (close < 0)
        return false;
    const char state = stat.size() > close + 2 ? stat.at(close + 2) : 'X';
    return state != 'Z' && state != 'X';
}
