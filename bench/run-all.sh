#!/bin/sh
# Builds the benchmark build (build-bench) and runs every benchmark: the
# micro-benchmarks, the GUI stall probe and the start-up/memory driver, then
# prints the table with the budgets. Not part of the test suite.
# Usage: bench/run-all.sh [rounds]   (default 5)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVEX_BENCH_BUILD_DIR:-$root/build-bench}
rounds=${1:-5}
stamp=$(date +%Y%m%d-%H%M%S)
results=$root/bench/results
mkdir -p "$results"

launcher=""
if command -v ccache >/dev/null 2>&1; then launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"; fi
cmake -S "$root" -B "$build" -G Ninja $launcher -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVEX_BUILD_BENCH=ON -DORVEX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" \
    --target orvexbrowser orvex_floor orvex_microbench orvex_stallprobe

export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox --disable-background-networking --disable-component-update"

echo "== micro-benchmarks"
QT_QPA_PLATFORM=offscreen "$build/bench/orvex_microbench" \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_out="$results/micro-$stamp.json" --benchmark_out_format=json 2>/dev/null

echo "== GUI stall probe"
QT_QPA_PLATFORM=offscreen "$build/bench/orvex_stallprobe" "$results/stall-$stamp.json" 2>/dev/null

echo "== start-up and memory ($rounds rounds)"
python3 "$root/bench/run_bench.py" --build "$build" --rounds "$rounds" --engine-memory 3 \
    --micro "$results/micro-$stamp.json" --stall "$results/stall-$stamp.json" \
    --out "$results/startup-$stamp.json"
