// fuzz-dict: json.dict
// VPNManager::parseIpLink on arbitrary `ip -details -json link show` output:
// a tunnel it reports is a tun or WireGuard link of the input, and its name
// is one Linux could have given (no blank, "/" or ":", at most 15 bytes) and
// shows nothing unprintable.
#include "FuzzSupport.h"
#include "VPNManager.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::captureMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray output(reinterpret_cast<const char *>(data), qsizetype(size));
    const VPNManager::ProbeResult result = VPNManager::parseIpLink(output);
    if (!result.up) {
        FUZZ_CHECK(result.interfaceName.isEmpty());
        return 0;
    }
    const QString &name = result.interfaceName;
    FUZZ_CHECK(!name.isEmpty() && name.toUtf8().size() <= 15);
    for (const QChar c : name)
        FUZZ_CHECK(c.isPrint() && !c.isSpace() && c != QLatin1Char(':') && c != QLatin1Char('/'));
    bool found = false;
    for (const QJsonValue &link : QJsonDocument::fromJson(output).array()) {
        const QJsonObject object = link.toObject();
        const QString kind = object.value(QLatin1String("linkinfo")).toObject().value(QLatin1String("info_kind")).toString();
        found = found || (object.value(QLatin1String("ifname")).toString() == name
                          && (kind == QLatin1String("tun") || kind == QLatin1String("wireguard")));
    }
    FUZZ_CHECK(found);
    return 0;
}
