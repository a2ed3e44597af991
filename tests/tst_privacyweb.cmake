# The element hiding test runs the shipped EasyList/EasyPrivacy snapshot of
# the build folder over pages of tests/data/pages.
target_compile_definitions(tst_privacyweb PRIVATE ORVEX_TEST_SNAPSHOT_DIR="${ORVEX_FILTERLIST_BUILD_DIR}")
add_dependencies(tst_privacyweb orvex_filterlists)
