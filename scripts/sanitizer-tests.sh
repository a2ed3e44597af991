#!/bin/sh
# Builds the tests that don't use the web engine with AddressSanitizer and
# UndefinedBehaviorSanitizer (in <build>/hardening) and runs them.
# Usage: sanitizer-tests.sh [source folder] [main build folder]
set -eu
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
build=${2:-${ORVEX_BUILD_DIR:-$root/build}}
. "$root/scripts/hardening-common.sh"

# The web engine doesn't run under ASan (its library may be linked, unused).
# A test is left out when it, or a class it includes (transitively), names a
# QWebEngine type.
web=$(grep -l 'QWebEngine' "$root"/src/*.h "$root"/src/*.cpp 2>/dev/null | xargs -n1 basename | sed 's/\.[a-z]*$//' | sort -u)
while :; do
    pattern=$(printf '%s\n' $web | sed 's/.*/#include "&.h"/')
    more=$(grep -lF "$pattern" "$root"/src/*.h "$root"/src/*.cpp 2>/dev/null | xargs -n1 basename | sed 's/\.[a-z]*$//' | sort -u)
    next=$(printf '%s\n' $web $more | sort -u)
    [ "$next" = "$web" ] && break
    web=$next
done
pattern=$(printf '%s\n' $web | sed 's/.*/#include "&.h"/'; echo QWebEngine)
tests=""
for src in "$root"/tests/tst_*.cpp; do
    name=$(basename "$src" .cpp)
    if grep -qF "$pattern" "$src"; then
        echo "sanitizer: leaving out $name (uses the web engine)"
    else
        tests="$tests $name"
    fi
done
echo "sanitizer: building$tests"
# shellcheck disable=SC2086
cmake --build "$tree" --target $tests >"$tree.build.log" 2>&1 || { tail -50 "$tree.build.log"; exit 1; }

[ -n "$tests" ] || { echo "sanitizer: no test to run"; exit 1; }
run=$(echo $tests | tr ' ' '|')
cd "$tree"
ctest --output-on-failure --timeout 900 -j1 -R "^(${run})\$"
