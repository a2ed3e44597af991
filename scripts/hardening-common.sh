# Sourced by sanitizer-tests.sh and fuzz-tests.sh: configures the nested
# hardening tree (clang, ASan + UBSan, libFuzzer) that both use.
# Needs: $root (source folder), $build (the main build folder).
tree=$build/hardening
if ! command -v clang++ >/dev/null 2>&1; then
    echo "hardening: clang++ is missing (scripts/install-deps.sh installs it)"
    exit 77
fi
launcher=""
if command -v ccache >/dev/null 2>&1; then launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"; fi
cmake -S "$root" -B "$tree" -G Ninja $launcher -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEX_BUILD_TESTS=ON -DORVEX_SANITIZE=ON -DORVEX_FUZZ=ON >"$tree.configure.log" 2>&1 \
    || { cat "$tree.configure.log"; exit 1; }
# Ninja's AUTOMOC stamp doesn't notice classes added since the last run
# (merges into a kept tree); moc only redoes what changed.
rm -f "$tree/orvexcore_autogen/timestamp"

export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$root/tests/hardening/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# The kill loops run in full in the normal build; here they look for memory errors.
export ORVEX_KILL_ITERATIONS=40
