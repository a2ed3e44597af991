#!/bin/sh
# Agreement of the filter engine with a reference engine (@ghostery/adblocker,
# installed with npm into <build>/filtercompare, never part of the product or
# of CTest) on two request corpora (page loads of real sites, and requests
# made from the lists' own rules), both engines with the shipped EasyList +
# EasyPrivacy snapshot.
# Usage: bench/compare-filters.sh [build folder]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-${ORVEX_BUILD_DIR:-$root/build}}" && pwd)
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
echo "== page loads of real sites (filtercorpus.py)"
python3 "$root/bench/compare-filters.py" "$work/requests.tsv" "$work/ours.txt" "$work/reference.txt" "$@"

# Requests made from a sample of the lists' own rules reach the corners the
# page loads don't (options, anchors, rare patterns).
# shellcheck disable=SC2086
python3 "$root/bench/rulecorpus.py" "$work/rules.tsv" $lists --count "${ORVEX_RULE_SAMPLE:-6000}"
# shellcheck disable=SC2086
"$build/orvex-filtercheck" --no-builtin $(printf -- '--list %s ' $lists) <"$work/rules.tsv" >"$work/rules-ours.txt"
# shellcheck disable=SC2086
node "$root/bench/reference-decide.mjs" "$work" $lists <"$work/rules.tsv" >"$work/rules-reference.txt"
echo "== requests made from the lists' rules (rulecorpus.py)"
python3 "$root/bench/compare-filters.py" "$work/rules.tsv" "$work/rules-ours.txt" "$work/rules-reference.txt" "$@"
