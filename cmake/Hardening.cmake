# Hardening builds, used by the nested tree that scripts/sanitizer-tests.sh and
# scripts/fuzz-tests.sh configure (never by the normal build):
#   ORVEX_SANITIZE  AddressSanitizer + UndefinedBehaviorSanitizer on orvexcore
#                   and everything linked to it (the tests).
#   ORVEX_FUZZ      libFuzzer targets fuzz_<name> from fuzz/<name>.cpp (clang).
# Both at once share one compile of orvexcore: the tests then carry the
# fuzzer's coverage hooks too, which the sanitizer runtime serves.
option(ORVEX_SANITIZE "Build orvexcore and the tests with ASan and UBSan" OFF)
option(ORVEX_FUZZ "Build the libFuzzer targets in fuzz/ (clang only)" OFF)

if(ORVEX_SANITIZE)
    set(_orvex_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_compile_options(orvexcore PUBLIC ${_orvex_san})
    target_link_options(orvexcore PUBLIC -fsanitize=address,undefined)
endif()

if(ORVEX_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "ORVEX_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
    endif()
    target_compile_options(orvexcore PUBLIC -fsanitize=fuzzer-no-link)
    file(GLOB ORVEX_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/*.cpp)
    foreach(src ${ORVEX_FUZZ_SOURCES})
        get_filename_component(name ${src} NAME_WE)
        add_executable(fuzz_${name} ${src})
        target_link_libraries(fuzz_${name} PRIVATE orvexcore)
        target_include_directories(fuzz_${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/fuzz)
        target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
        list(APPEND ORVEX_FUZZ_TARGETS fuzz_${name})
    endforeach()
    add_custom_target(orvex_fuzzers DEPENDS ${ORVEX_FUZZ_TARGETS})
endif()
