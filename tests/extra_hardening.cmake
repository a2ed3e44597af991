# The sanitized test run and the fuzzers, each in a nested build tree
# (<build>/hardening) configured by the scripts; not inside that tree itself.
if(NOT ORVEX_SANITIZE AND NOT ORVEX_FUZZ)
    add_test(NAME hardening_sanitizers
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/sanitizer-tests.sh ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
    add_test(NAME hardening_fuzz
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/fuzz-tests.sh ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
    set_tests_properties(hardening_sanitizers hardening_fuzz PROPERTIES
        TIMEOUT 1800
        SKIP_RETURN_CODE 77
        RESOURCE_LOCK orvex_hardening_tree)
endif()
