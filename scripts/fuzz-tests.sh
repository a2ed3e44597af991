#!/bin/sh
# Builds the libFuzzer targets (in <build>/hardening), replays every committed
# input of fuzz/corpus/<target>/ (regressions included: any failure fails the
# run), then explores from that corpus for a bounded time. A crash input found
# while exploring is saved in <build>/hardening/fuzz-crashes/ and reported
# loudly; it fails the run only with ORVEX_FUZZ_STRICT=1, so the test suite
# stays deterministic. Commit it to the corpus folder once it is fixed.
# Usage: fuzz-tests.sh [source folder] [main build folder]
# ORVEX_FUZZ_SECONDS sets the time per target (30).
set -eu
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
build=${2:-${ORVEX_BUILD_DIR:-$root/build}}
seconds=${ORVEX_FUZZ_SECONDS:-30}
. "$root/scripts/hardening-common.sh"

cmake --build "$tree" --target orvex_fuzzers >"$tree.build.log" 2>&1 || { tail -50 "$tree.build.log"; exit 1; }

crashes=$tree/fuzz-crashes
mkdir -p "$crashes"
failed=0
summary=""
for src in "$root"/fuzz/*.cpp; do
    name=$(basename "$src" .cpp)
    corpus=$root/fuzz/corpus/$name
    work=$tree/fuzz-work/$name   # new inputs land here, not in the source tree
    mkdir -p "$work" "$corpus"
    # A target names its dictionary in a "// fuzz-dict: <file>" line.
    dict=$(sed -n 's|^// fuzz-dict: *||p' "$src" | head -1)
    [ -n "$dict" ] && dict="-dict=$root/fuzz/$dict"
    log=$tree/fuzz-$name.log
    if ! "$tree/fuzz_$name" -runs=0 -timeout=20 -rss_limit_mb=2560 \
        -artifact_prefix="$crashes/$name-replay-" "$corpus" >"$tree/fuzz-$name-replay.log" 2>&1; then
        tail -60 "$tree/fuzz-$name-replay.log"
        summary="$summary
fuzz: $name: a committed input FAILED (regression)"
        failed=1
        continue
    fi
    echo "fuzz: $name for ${seconds}s"
    if "$tree/fuzz_$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
        -artifact_prefix="$crashes/$name-" $dict "$work" "$corpus" >"$log" 2>&1; then
        result=ok
    else
        result="NEW FINDING (saved in $crashes)"
        [ "${ORVEX_FUZZ_STRICT:-0}" = 1 ] && failed=1
        tail -60 "$log"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    summary="$summary
fuzz: $name: ${runs:-?} executions, $result"
done
echo "$summary"
if [ "$failed" -ne 0 ]; then
    echo "fuzz: crash inputs are in $crashes"
    exit 1
fi
