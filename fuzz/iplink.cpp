// VPNManager::parseIpLinkShow on arbitrary `ip link show` output: a tunnel it
// reports has a plain interface name taken from the output.
#include "FuzzSupport.h"
#include "VPNManager.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::captureMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString output = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const VPNManager::ProbeResult result = VPNManager::parseIpLinkShow(output);
    if (!result.up) {
        FUZZ_CHECK(result.interfaceName.isEmpty());
        return 0;
    }
    const QString &name = result.interfaceName;
    FUZZ_CHECK(!name.isEmpty());
    FUZZ_CHECK(output.contains(name));
    for (const QChar c : name)
        FUZZ_CHECK(!c.isSpace() && c != QLatin1Char(':') && c != QLatin1Char('@'));
    return 0;
}
