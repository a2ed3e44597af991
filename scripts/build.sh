#!/bin/sh
# Configures and builds into ./build (extra arguments go to the CMake configure step).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVEX_BUILD_DIR:-$root/build}
launcher=""
if command -v ccache >/dev/null 2>&1; then launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"; fi
cmake -S "$root" -B "$build" -G Ninja $launcher "$@"
cmake --build "$build" --parallel "$(nproc)"
