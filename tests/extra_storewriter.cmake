# Helper for tst_storecrash: a process that rewrites a large history until killed.
add_executable(orvex_storewriter ${CMAKE_CURRENT_SOURCE_DIR}/storewriter/storewriter.cpp)
target_link_libraries(orvex_storewriter PRIVATE orvexcore)
if(TARGET tst_storecrash)
    add_dependencies(tst_storecrash orvex_storewriter)
    target_compile_definitions(tst_storecrash PRIVATE ORVEX_STOREWRITER="$<TARGET_FILE:orvex_storewriter>")
endif()
