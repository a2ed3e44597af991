#pragma once

#include <QUrl>

class VPNManager;

// The kill switch: whether a request may leave the machine now. Every
// navigation of every page (WebPage), every request of every page
// (RequestInterceptor) and our own fetches outside the engine (favicons) ask
// it, so while no tunnel is up nothing of any tab or popup goes out.
//
// It is process-wide, like the tunnel it stands for, and starts closed:
// nothing leaves before a probe has found a tunnel. The VPN manager's state
// opens and closes it.
class VpnGate
{
public:
    static bool isOpen();
    static void setOpen(bool open);
    // Opens and closes with vpn's traffic state from now on (and closes for
    // good when vpn is destroyed).
    static void follow(VPNManager *vpn);

    // The rule below with the current state and the account service's origin.
    static bool allows(const QUrl &url);

    // Addresses that reach no network (about:, data:, blob:, file:, the
    // engine's own pages) always pass; so does the account service's own
    // origin, since logging in and signing up must work before a tunnel
    // exists. Everything else passes only while the gate is open.
    static bool allows(const QUrl &url, bool open, const QUrl &accountBase);
    static bool reachesNetwork(const QUrl &url);
    static bool sameOrigin(const QUrl &a, const QUrl &b);
};
