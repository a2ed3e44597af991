#!/bin/sh
# Installs what is missing, builds, and starts the browser.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" -DORVEX_BUILD_TESTS=OFF
# Qt WebEngine refuses to run as root with its sandbox on.
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
bin=${ORVEX_BUILD_DIR:-$root/build}/orvexbrowser
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no display found, starting under Xvfb"
    exec xvfb-run -a -s "-screen 0 1280x900x24" "$bin"
fi
exec "$bin"
