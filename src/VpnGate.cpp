#include "VpnGate.h"

#include "ServiceEndpoints.h"
#include "VPNManager.h"

#include <atomic>

namespace {
std::atomic<bool> gateOpen{false};
}

bool VpnGate::isOpen()
{
    return gateOpen.load(std::memory_order_relaxed);
}

void VpnGate::setOpen(bool open)
{
    gateOpen.store(open, std::memory_order_relaxed);
}

void VpnGate::follow(VPNManager *vpn)
{
    // Traffic stops at the first probe that misses the tunnel, before the
    // drop is confirmed and the window says so.
    setOpen(vpn->isTrafficAllowed());
    QObject::connect(vpn, &VPNManager::trafficAllowedChanged, vpn, [](bool allowed) { setOpen(allowed); });
    QObject::connect(vpn, &QObject::destroyed, [] { setOpen(false); });
}

bool VpnGate::allows(const QUrl &url)
{
    // The open gate is the common case and must cost nothing per request.
    if (isOpen())
        return true;
    return allows(url, false, QUrl(ServiceEndpoints::accountUrl()));
}

bool VpnGate::allows(const QUrl &url, bool open, const QUrl &accountBase)
{
    if (open || !reachesNetwork(url))
        return true;
    return accountBase.isValid() && !accountBase.host().isEmpty() && sameOrigin(url, accountBase);
}

bool VpnGate::reachesNetwork(const QUrl &url)
{
    // Unknown schemes count as network: view-source:https://… and the like
    // load from the web, and a scheme we did not think of must not leak.
    static const char *const local[] = {"about", "data", "blob", "file", "qrc", "chrome", "devtools",
                                        "chrome-error", "chrome-extension", "filesystem"};
    const QString scheme = url.scheme().toLower();
    if (scheme.isEmpty())
        return !url.isEmpty();
    for (const char *candidate : local) {
        if (scheme == QLatin1String(candidate))
            return false;
    }
    return true;
}

bool VpnGate::sameOrigin(const QUrl &a, const QUrl &b)
{
    const QString scheme = a.scheme().toLower();
    if (scheme != b.scheme().toLower())
        return false;
    const int defaultPort = scheme == QLatin1String("https") ? 443 : scheme == QLatin1String("http") ? 80 : -1;
    return a.host(QUrl::FullyDecoded).compare(b.host(QUrl::FullyDecoded), Qt::CaseInsensitive) == 0
        && a.port(defaultPort) == b.port(defaultPort);
}
