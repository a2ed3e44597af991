#!/bin/sh
# Renders docs/screenshots/main-window.png and docs/screenshots/command-palette.png.
#
# Starts the browser under a private Xvfb display with a fresh configuration
# folder, a fake `ip` that reports an OpenVPN tunnel up (so web pages are not
# refused), and a home page served from a small local page on 127.0.0.1.
# The home page is the compile-time account URL, so the browser is built in
# its own folder (build-screenshots/) pointing at that local page.
#
#   scripts/screenshots.sh            # settle time 10 s after the window shows
#   ORVEX_SCREENSHOT_SETTLE=20 scripts/screenshots.sh
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
port=${ORVEX_SCREENSHOT_PORT:-18765}
settle=${ORVEX_SCREENSHOT_SETTLE:-10}
build=${ORVEX_SCREENSHOT_BUILD_DIR:-$root/build-screenshots}
out=$root/docs/screenshots
size=1280x900

# --- tools (installed here when missing; the tests don't need them)
need=""
command -v Xvfb >/dev/null 2>&1 || need="$need xvfb"
command -v xdotool >/dev/null 2>&1 || need="$need xdotool"
command -v import >/dev/null 2>&1 || need="$need imagemagick"
command -v xprop >/dev/null 2>&1 || need="$need x11-utils"
command -v python3 >/dev/null 2>&1 || need="$need python3"
# The window's captions use emoji; without a colour emoji font they show as boxes.
fc-list 2>/dev/null | grep -qi 'Noto Color Emoji' || need="$need fonts-noto-color-emoji"
if [ -n "$need" ]; then
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
    echo "screenshots: installing$need"
    $SUDO apt-get update -q
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $need
fi

# --- build pointing at the local account page (a fixed port keeps the
# configured build valid between runs)
launcher=""
if command -v ccache >/dev/null 2>&1; then launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"; fi
cmake -S "$root" -B "$build" -G Ninja $launcher -DORVEX_BUILD_TESTS=OFF \
      "-DORVEX_ACCOUNT_URL=http://127.0.0.1:$port" >/dev/null
cmake --build "$build" --target orvexbrowser
bin=$build/orvexbrowser

work=$(mktemp -d "${TMPDIR:-/tmp}/orvex-screens.XXXXXX")
xvfb_pid=""; http_pid=""; app_pid=""
cleanup() {
    # Only the processes this script started, by PID.
    for pid in $app_pid $http_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in $app_pid $http_pid $xvfb_pid; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# --- fake ip: always reports a tunnel up
mkdir -p "$work/bin" "$work/config" "$work/cache" "$work/data" "$work/tmp" "$work/site"
cp "$root/tests/data/ip-link/openvpn-tun-up.json" "$work/ip-link.json"
cp "$root/tests/data/ip-link/openvpn-tun-up.txt" "$work/ip-link.txt"
cat > "$work/bin/ip" <<EOF
#!/bin/sh
case " \$* " in *" -json "*) cat "$work/ip-link.json" ;; *) cat "$work/ip-link.txt" ;; esac
EOF
chmod +x "$work/bin/ip"

# --- the local account page
cat > "$work/site/index.html" <<'EOF'
<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>OrvexVPN Account</title>
<style>
 body { margin: 0; font-family: "DejaVu Sans", sans-serif; background: #0f0f12; color: #d0d0d0; }
 header { padding: 28px 48px; background: #18181b; border-bottom: 1px solid #2d2d2d; }
 header h1 { margin: 0; color: #00e5ff; font-size: 26px; letter-spacing: 1px; }
 main { padding: 36px 48px; display: grid; grid-template-columns: repeat(3, 1fr); gap: 24px; }
 .card { background: #1e1e1e; border: 1px solid #2d2d2d; border-radius: 10px; padding: 22px; }
 .card h2 { margin: 0 0 10px; font-size: 17px; color: white; }
 .ok { color: #00e5ff; font-weight: bold; }
 a { color: #0078d4; }
</style></head>
<body>
<header><h1>OrvexVPN Account</h1><p>Demo page served from 127.0.0.1</p></header>
<main>
 <div class="card"><h2>Tunnel</h2><p class="ok">Connected (tun0)</p><p>Server: Frankfurt, Germany</p></div>
 <div class="card"><h2>WireGuard keys</h2><p>Keys synced with the browser.</p><p><a href="#">Download configuration</a></p></div>
 <div class="card"><h2>Privacy</h2><p>Ads and trackers blocked, fingerprinting surfaces disguised.</p></div>
</main>
</body></html>
EOF
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/site" >"$work/http.log" 2>&1 &
http_pid=$!

# --- private X display (Xvfb picks a free number and writes it to fd 3)
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
i=0
while [ ! -s "$work/display" ]; do
    i=$((i + 1))
    if [ "$i" -gt 100 ]; then echo "screenshots: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; fi
    sleep 0.1
done
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY
echo "screenshots: display $DISPLAY, account page http://127.0.0.1:$port"

# --- the browser
(
    export PATH="$work/bin:$PATH"
    export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data"
    export TMPDIR="$work/tmp"
    export QT_QPA_PLATFORM=xcb
    export QTWEBENGINE_DISABLE_SANDBOX=1
    export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox --disable-background-networking --disable-component-update"
    exec "$bin"
) >"$work/app.log" 2>&1 &
app_pid=$!

wid=""
i=0
while [ -z "$wid" ]; do
    i=$((i + 1))
    if [ "$i" -gt 60 ] || ! kill -0 "$app_pid" 2>/dev/null; then
        echo "screenshots: no main window appeared"; tail -n 40 "$work/app.log"; exit 1
    fi
    sleep 0.5
    wid=$(xdotool search --onlyvisible --name '^OrvexBrowser' 2>/dev/null | head -n 1 || true)
done

wm_class=$(xprop -id "$wid" WM_CLASS | sed -n 's/.*= //p')
echo "screenshots: window $wid, WM_CLASS $wm_class"
expected=$(sed -n 's/^StartupWMClass=//p' "$root"/packaging/*.desktop)
case "$wm_class" in
    *"\"$expected\"") ;;
    *) echo "screenshots: WARNING: WM_CLASS $wm_class does not end in \"$expected\" (StartupWMClass of the desktop entry)" ;;
esac

sleep "$settle"
mkdir -p "$out"
# The root window cropped to the main window, so pop-ups above it are caught too.
geom() {
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    echo "${WIDTH}x${HEIGHT}+${X}+${Y}"
}
import -window root -crop "$(geom)" +repage "$out/main-window.png"

xdotool windowactivate --sync "$wid" 2>/dev/null || xdotool windowfocus --sync "$wid" 2>/dev/null || true
xdotool key --clearmodifiers ctrl+shift+p
sleep 2
xdotool type --delay 80 "vpn"
sleep 1
import -window root -crop "$(geom)" +repage "$out/command-palette.png"

echo "screenshots: wrote"
ls -l "$out"/main-window.png "$out"/command-palette.png
if grep -q "\"GET /" "$work/http.log"; then
    echo "screenshots: the account page was requested"
else
    echo "screenshots: WARNING: the browser never requested the account page"
fi
