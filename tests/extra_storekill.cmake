# Helper for tst_storekill: a process that rewrites one store until killed.
add_executable(orvex_storekiller ${CMAKE_CURRENT_SOURCE_DIR}/storekill/storekiller.cpp)
target_link_libraries(orvex_storekiller PRIVATE orvexcore)
if(TARGET tst_storekill)
    add_dependencies(tst_storekill orvex_storekiller)
    target_compile_definitions(tst_storekill PRIVATE ORVEX_STOREKILLER="$<TARGET_FILE:orvex_storekiller>")
endif()
