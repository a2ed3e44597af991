// fuzz-dict: wireguard.dict
// A keys reply of the account service, through to both WireGuard
// configuration texts: the synced one (AccountSyncManager::configFromReply)
// and each server's (VPNManager::generateConfigForServer). wg-quick runs these
// as root, so a text must consist of the template's lines only, each value of
// the shape WireGuard expects.
#include "AccountSyncManager.h"
#include "FuzzSupport.h"
#include "VPNManager.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {
VPNManager *vpn = nullptr;

void checkConfig(const QString &text)
{
    static const QRegularExpression key(QStringLiteral("^[A-Za-z0-9+/]{43}=$"));
    static const QRegularExpression address(QStringLiteral("^[0-9A-Fa-f:.]+(/[0-9]{1,3})?$"));
    static const QRegularExpression endpoint(QStringLiteral("^(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9.-]+):[0-9]{1,5}$"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    const QList<std::pair<QString, const QRegularExpression *>> shape{
        {QStringLiteral("[Interface]"), nullptr},
        {QStringLiteral("PrivateKey = "), &key},
        {QStringLiteral("Address = "), &address},
        {QStringLiteral("DNS = 1.1.1.1"), nullptr},
        {QString(), nullptr},
        {QStringLiteral("[Peer]"), nullptr},
        {QStringLiteral("PublicKey = "), &key},
        {QStringLiteral("Endpoint = "), &endpoint},
        {QStringLiteral("AllowedIPs = 0.0.0.0/0"), nullptr},
        {QStringLiteral("PersistentKeepalive = 25"), nullptr},
        {QString(), nullptr}, // after the final newline
    };
    FUZZ_CHECK(lines.size() == shape.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (!shape.at(i).second) {
            FUZZ_CHECK(line == shape.at(i).first);
            continue;
        }
        FUZZ_CHECK(line.startsWith(shape.at(i).first));
        FUZZ_CHECK(shape.at(i).second->match(line.mid(shape.at(i).first.size())).hasMatch());
    }
}
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::captureMessages();
    new QCoreApplication(*argc, *argv);
    VPNManager::Tools tools;
    tools.ip = QStringLiteral("true"); // the constructor's probe finds no tunnel
    tools.openvpn = tools.wgQuick = tools.kill = QStringLiteral("false");
    tools.runtimeFolder = fuzz::scratch();
    tools.tempFolder = fuzz::scratch();
    vpn = new VPNManager(tools);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!doc.isObject())
        return 0;
    const QJsonObject reply = doc.object();

    const QString synced = AccountSyncManager::configFromReply(reply.value(QLatin1String("wireguard")).toObject());
    if (!synced.isEmpty())
        checkConfig(synced);

    vpn->setStoredKeys(reply);
    const QList<VPNManager::VPNServer> servers = vpn->serverList();
    for (qsizetype i = 0; i < servers.size() && i < 8; ++i) {
        QString path;
        if (!vpn->generateConfigForServer(servers.at(i), path))
            continue;
        FUZZ_CHECK(QFileInfo(path).absolutePath() == QFileInfo(fuzz::scratch()).absoluteFilePath());
        FUZZ_CHECK((QFileInfo(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther)) == 0);
        checkConfig(QString::fromUtf8(fuzz::readRaw(path)));
        QFile::remove(path);
    }
    return 0;
}
