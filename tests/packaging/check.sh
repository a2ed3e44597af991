#!/bin/sh
# Builds the Debian package from a configured and built tree and checks it:
# the files land where a desktop looks for them, the desktop entry and the
# AppStream metadata validate, and lintian finds no error.
#   check.sh <build dir> <built orvexbrowser binary> [cpack]
set -eu

build=${1:?usage: check.sh <build dir> <binary>}
binary=${2:?usage: check.sh <build dir> <binary>}
cpack=${3:-cpack}
app_id=net.orvexvpn.OrvexBrowser
pkg=orvexbrowser

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "PASS: $*"; }

missing=""
for tool in "$cpack" dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli lintian file; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
if [ -n "$missing" ]; then
    echo "FAIL: missing tools:$missing (scripts/install-deps.sh installs them)"
    exit 1
fi
if [ ! -x "$binary" ]; then
    echo "FAIL: $binary is not built (build the orvexbrowser target first)"
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/orvex-packaging.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

# The package goes to a scratch folder so the build tree keeps no .deb.
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack -G DEB"
    exit 1
fi
set -- "$work"/out/*.deb
if [ "$#" -ne 1 ] || [ ! -f "$1" ]; then
    echo "FAIL: expected exactly one .deb, found: $*"
    exit 1
fi
deb=$1
pass "built $(basename "$deb")"

root=$work/root
dpkg-deb -x "$deb" "$root"

# --- files where the desktop expects them
bin=$root/usr/bin/orvexbrowser
desktop=$root/usr/share/applications/$app_id.desktop
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
doc=$root/usr/share/doc/$pkg

if [ -x "$bin" ]; then pass "binary in /usr/bin"; else fail "no executable /usr/bin/orvexbrowser"; fi
case "$(file -b "$bin" 2>/dev/null)" in
    *ELF*", stripped"*) pass "binary is a stripped ELF" ;;
    *) fail "binary is not a stripped ELF: $(file -b "$bin" 2>/dev/null)" ;;
esac
for f in "$desktop" "$metainfo" "$doc/copyright" "$doc/changelog.gz" "$root/usr/share/man/man1/orvexbrowser.1.gz"; do
    if [ -f "$f" ]; then pass "${f#"$root"}"; else fail "missing ${f#"$root"}"; fi
done
for n in 16 32 48 64 128 256; do
    icon=$root/usr/share/icons/hicolor/${n}x${n}/apps/$app_id.png
    if [ ! -f "$icon" ]; then
        fail "missing icon ${icon#"$root"}"
        continue
    fi
    case "$(file -b "$icon")" in
        "PNG image data, $n x $n,"*) pass "icon ${n}x${n}" ;;
        *) fail "icon ${icon#"$root"} is $(file -b "$icon")" ;;
    esac
done
# Nothing outside /usr (no /usr/local, /opt or build paths leaking in).
stray=$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
if [ -z "$stray" ]; then pass "everything under /usr"; else fail "files outside /usr: $stray"; fi

# --- desktop entry
if desktop-file-validate "$desktop" >"$work/dfv.log" 2>&1 && [ ! -s "$work/dfv.log" ]; then
    pass "desktop-file-validate"
else
    cat "$work/dfv.log"; fail "desktop-file-validate"
fi
key() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
# %U: links from other applications arrive as arguments (the default browser).
[ "$(key Exec)" = "orvexbrowser %U" ] && pass "Exec=orvexbrowser %U" \
    || fail "Exec is '$(key Exec)', expected 'orvexbrowser %U'"
for mime in x-scheme-handler/http x-scheme-handler/https text/html application/xhtml+xml; do
    case ";$(key MimeType)" in
        *";$mime;"*) pass "MimeType has $mime" ;;
        *) fail "MimeType lacks $mime: '$(key MimeType)'" ;;
    esac
done
[ "$(key Icon)" = "$app_id" ] && pass "Icon names the installed icon" \
    || fail "Icon is '$(key Icon)', expected '$app_id'"
[ "$(key StartupWMClass)" = "OrvexBrowser" ] && pass "StartupWMClass=OrvexBrowser" \
    || fail "StartupWMClass is '$(key StartupWMClass)'"
[ "$(key Terminal)" = "false" ] && [ "$(key Type)" = "Application" ] && pass "Terminal/Type" \
    || fail "Terminal/Type"
case "$(key Categories)" in
    *Network\;*WebBrowser\;*) pass "Categories" ;;
    *) fail "Categories is '$(key Categories)'" ;;
esac

# --- AppStream metadata: strict, so warnings fail too
if appstreamcli validate --no-net --strict "$metainfo" >"$work/as.log" 2>&1; then
    pass "appstreamcli validate"
else
    cat "$work/as.log"; fail "appstreamcli validate"
fi
# The tree check also matches the launchable against the installed desktop file.
if appstreamcli validate-tree --no-net --strict "$root" >"$work/ast.log" 2>&1; then
    pass "appstreamcli validate-tree"
else
    cat "$work/ast.log"; fail "appstreamcli validate-tree"
fi
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
    && pass "launchable names the desktop file" || fail "launchable does not name $app_id.desktop"
grep -q '<release version="2.0.0"' "$metainfo" && pass "release 2.0.0 listed" || fail "no release 2.0.0"

# --- control fields
field() { dpkg-deb -f "$deb" "$1"; }
depends=$(field Depends)
for d in libqt6webenginecore6 libqt6webenginecore6-bin libqt6widgets6 iproute2; do
    if printf '%s\n' "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qx "$d"; then
        pass "Depends has $d"
    else
        fail "Depends lacks $d: $depends"
    fi
done
recommends=$(field Recommends)
for r in openvpn wireguard-tools fonts-noto-color-emoji xdg-utils; do
    case ", $recommends," in *", $r,"*) pass "Recommends has $r" ;; *) fail "Recommends lacks $r: $recommends" ;; esac
done
[ "$(field Section)" = "web" ] && pass "Section web" || fail "Section is '$(field Section)'"
[ "$(field Version)" = "2.0.0" ] && pass "Version 2.0.0" || fail "Version is '$(field Version)'"
[ -n "$(field Homepage)" ] && pass "Homepage set" || fail "no Homepage"

# --- lintian: errors fail, warnings are listed
lintian_rc=0
lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || lintian_rc=$?
grep -v 'running with root privileges' "$work/lintian.log" || true
if [ "$lintian_rc" -eq 0 ] && ! grep -q '^E: ' "$work/lintian.log"; then
    pass "lintian: no errors ($(grep -c '^W: ' "$work/lintian.log" || true) warnings)"
else
    fail "lintian reports errors"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures packaging check(s) failed"
    exit 1
fi
echo "all packaging checks passed"
