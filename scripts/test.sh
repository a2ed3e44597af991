#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" -DORVEX_BUILD_TESTS=ON
build=${ORVEX_BUILD_DIR:-$root/build}
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
cd "$build"
ctest --output-on-failure --timeout 900 -j1
