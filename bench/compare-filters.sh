#!/bin/sh
# Agreement of the filter engine with a reference engine (@ghostery/adblocker,
# installed with npm into <build>/filtercompare, never part of the product or
# of CTest) on the request corpus of bench/filtercorpus.py, both with the
# shipped EasyList + EasyPrivacy snapshot.
# Usage: bench/compare-filters.sh [build folder]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${ORVEX_BUILD_DIR:-$root/build}}
[ $# -gt 0 ] && shift
work=$build/filtercompare
mkdir -p "$work"
if [ ! -d "$work/node_modules/@ghostery/adblocker" ]; then
    (cd "$work" && npm init -y >/dev/null && npm install --no-audit --no-fund @ghostery/adblocker@2.18.2 >/dev/null)
fi
cmake --build "$build" --target orvex-filtercheck >/dev/null
python3 "$root/bench/filtercorpus.py" "$work/requests.tsv" "${ORVEX_CORPUS_LOADS:-240}"
lists="$build/filterlists/easylist.txt $build/filterlists/easyprivacy.txt"
# shellcheck disable=SC2086
"$build/orvex-filtercheck" --no-builtin $(printf -- '--list %s ' $lists) <"$work/requests.tsv" >"$work/ours.txt"
# shellcheck disable=SC2086
node "$root/bench/reference-decide.mjs" "$work" $lists <"$work/requests.tsv" >"$work/reference.txt"
python3 "$root/bench/compare-filters.py" "$work/requests.tsv" "$work/ours.txt" "$work/reference.txt" "$@"
