# Desktop integration (install layout) and the Debian package.
#   cmake --install build --prefix /usr/local     # or: cd build && cpack -G DEB
include(GNUInstallDirs)

# Desktop entry id, AppStream id and icon name: one reverse-DNS name for all.
set(ORVEX_APP_ID net.orvexvpn.OrvexBrowser)
set(ORVEX_PACKAGE_NAME orvexbrowser)
set(ORVEX_HOMEPAGE "https://orvexvpn.net" CACHE STRING
    "Project home page (AppStream metadata, Debian control)")
set(ORVEX_SCREENSHOT_BASE_URL "${ORVEX_HOMEPAGE}/browser/screenshots" CACHE STRING
    "Public folder holding docs/screenshots/*.png (AppStream wants absolute URLs)")
set(ORVEX_PROJECT_LICENSE "LicenseRef-proprietary" CACHE STRING
    "SPDX licence expression of the program (AppStream, Debian copyright)")
set(ORVEX_DEB_MAINTAINER "OrvexVPN <support@orvexvpn.net>" CACHE STRING
    "Maintainer of the Debian package: Name <address>")

set(_orvex_pkg_src ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(_orvex_pkg_gen ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(_orvex_docdir ${CMAKE_INSTALL_DATADIR}/doc/${ORVEX_PACKAGE_NAME})

configure_file(${_orvex_pkg_src}/${ORVEX_APP_ID}.metainfo.xml.in
               ${_orvex_pkg_gen}/${ORVEX_APP_ID}.metainfo.xml @ONLY)
configure_file(${_orvex_pkg_src}/copyright ${_orvex_pkg_gen}/copyright @ONLY)
# Debian wants the changelog and manual page compressed at maximum level
# without a name or time stamp in the gzip header (reproducible).
configure_file(${_orvex_pkg_src}/changelog.Debian ${_orvex_pkg_gen}/changelog @ONLY)
configure_file(${_orvex_pkg_src}/orvexbrowser.1 ${_orvex_pkg_gen}/orvexbrowser.1 COPYONLY)
configure_file(${_orvex_pkg_src}/orvex-filtercheck.1 ${_orvex_pkg_gen}/orvex-filtercheck.1 COPYONLY)
execute_process(COMMAND gzip -9nf ${_orvex_pkg_gen}/changelog ${_orvex_pkg_gen}/orvexbrowser.1
                        ${_orvex_pkg_gen}/orvex-filtercheck.1
                RESULT_VARIABLE _orvex_gzip_rc)
if(NOT _orvex_gzip_rc EQUAL 0)
    message(FATAL_ERROR "Packaging: gzip of the changelog and manual page failed")
endif()

install(TARGETS orvexbrowser orvex-filtercheck RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_orvex_pkg_src}/${ORVEX_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_orvex_pkg_gen}/${ORVEX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(_size 16 32 48 64 128 256)
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/hicolor/${_size}x${_size}/apps/${ORVEX_APP_ID}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps)
endforeach()
install(FILES ${_orvex_pkg_gen}/orvexbrowser.1.gz ${_orvex_pkg_gen}/orvex-filtercheck.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_orvex_pkg_gen}/copyright ${_orvex_pkg_gen}/changelog.gz
        DESTINATION ${_orvex_docdir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ORVEX_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR OrvexVPN)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "web browser that works with the OrvexVPN tunnel")
set(CPACK_PACKAGE_DESCRIPTION
"OrvexBrowser is a tabbed web browser built on Qt WebEngine, made as the
companion of the OrvexVPN service. It opens web pages only while a VPN
tunnel is up, brings OpenVPN and WireGuard tunnels up and down, fetches
WireGuard keys and servers from the OrvexVPN account, blocks ad and
tracking hosts and disguises fingerprinting surfaces. Bookmarks, history,
saved passwords and the last session are kept in local files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORVEX_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ORVEX_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Added to what dpkg-shlibdeps finds (which includes the web engine helper
# process package): ip watches the tunnel, pkill takes tunnels down.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "iproute2, procps")
# Captions and palette entries use emoji (country flags among them);
# xdg-settings checks and sets the default browser (Settings > General);
# pkexec runs the tunnel tools for users who are not root.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "openvpn, wireguard-tools, pkexec | policykit-1, fonts-noto-color-emoji, xdg-utils")
set(CPACK_SOURCE_GENERATOR "")
include(CPack)

if(ORVEX_BUILD_TESTS)
    # Builds the package from this build tree and checks it; needs the
    # orvexbrowser binary, which the normal build makes before ctest runs.
    add_test(NAME packaging
             COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tests/packaging/check.sh
                     ${CMAKE_CURRENT_BINARY_DIR} $<TARGET_FILE:orvexbrowser> ${CMAKE_CPACK_COMMAND})
    set_tests_properties(packaging PROPERTIES TIMEOUT 300 LABELS packaging)
endif()
