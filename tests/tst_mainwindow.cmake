# The hand-over test starts the browser itself.
add_dependencies(tst_mainwindow orvexbrowser)
target_compile_definitions(tst_mainwindow PRIVATE ORVEX_BROWSER_BINARY="$<TARGET_FILE:orvexbrowser>")
