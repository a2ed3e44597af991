# The snapshot of EasyList and EasyPrivacy that ships with the browser, so the
# first start blocks by the lists before any download. Taken at build time
# from Debian's webext-ublock-origin-firefox package (the lists are not kept
# in the repository) into <build>/filterlists/, next to the executables, and
# installed to <datadir>/orvexbrowser/filterlists/.
set(ORVEX_FILTERLIST_SOURCE_DIR "" CACHE PATH
    "Folder holding easylist.txt and easyprivacy.txt (found in the uBlock Origin package when empty)")

set(_orvex_lists easylist.txt easyprivacy.txt)
if(NOT ORVEX_FILTERLIST_SOURCE_DIR)
    file(GLOB _orvex_list_dirs
         /usr/share/mozilla/extensions/*/uBlock0@raymondhill.net/assets/thirdparties/easylist
         /usr/share/webext/ublock-origin/assets/thirdparties/easylist)
    foreach(_dir ${_orvex_list_dirs})
        if(EXISTS ${_dir}/easylist.txt AND EXISTS ${_dir}/easyprivacy.txt)
            set(_orvex_list_dir ${_dir})
            break()
        endif()
    endforeach()
else()
    set(_orvex_list_dir ${ORVEX_FILTERLIST_SOURCE_DIR})
endif()

set(ORVEX_FILTERLIST_BUILD_DIR ${CMAKE_BINARY_DIR}/filterlists)
set(_orvex_list_outputs)
if(_orvex_list_dir)
    foreach(_list ${_orvex_lists})
        add_custom_command(OUTPUT ${ORVEX_FILTERLIST_BUILD_DIR}/${_list}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${ORVEX_FILTERLIST_BUILD_DIR}
            COMMAND ${CMAKE_COMMAND} -E copy ${_orvex_list_dir}/${_list} ${ORVEX_FILTERLIST_BUILD_DIR}/${_list}
            DEPENDS ${_orvex_list_dir}/${_list}
            COMMENT "Filter list snapshot: ${_list}")
        list(APPEND _orvex_list_outputs ${ORVEX_FILTERLIST_BUILD_DIR}/${_list})
    endforeach()
    install(FILES ${_orvex_list_outputs}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/orvexbrowser/filterlists)
else()
    message(WARNING "EasyList/EasyPrivacy not found (install webext-ublock-origin-firefox): "
                    "the browser starts with its built-in host lists only")
endif()
add_custom_target(orvex_filterlists ALL DEPENDS ${_orvex_list_outputs})
