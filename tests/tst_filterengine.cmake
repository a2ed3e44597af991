# The checker program runs as the user would run it; the shipped snapshot is
# looked for in the build folder.
add_dependencies(tst_filterengine orvex-filtercheck)
target_compile_definitions(tst_filterengine PRIVATE
    ORVEX_FILTERCHECK_BIN="$<TARGET_FILE:orvex-filtercheck>"
    ORVEX_TEST_SNAPSHOT_DIR="${ORVEX_FILTERLIST_BUILD_DIR}")
