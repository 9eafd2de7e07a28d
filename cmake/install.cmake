# The install: the program with its web root and default "config.ini" in
# OLVA_INSTALL_DIR (olvawebserver/), and here the library with its header
# and pkg-config file, the udev rules, the menu and autostart entries with
# the icon; then the Debian package of the same (cpack -G DEB).

# The library for C programs: libolva.so and its public header with the
# model headers it includes.
install(TARGETS olva LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
set(OLVA_HEADER_DIR "${CMAKE_INSTALL_INCLUDEDIR}/olva")
install(FILES src/cavrel_olva.h DESTINATION ${OLVA_HEADER_DIR})
install(FILES src/model/busy_info.h src/model/olva_product.h src/model/olva_types.h
        DESTINATION ${OLVA_HEADER_DIR}/model)

# udev rules that let the desktop user open the boxes without root; udev
# reads them under /usr/lib/udev/rules.d (install prefix /usr).
set(OLVA_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "Install directory of the udev rules")
install(FILES data/udev/70-olva.rules DESTINATION ${OLVA_UDEV_RULES_DIR})

# The menu entry, the entry that starts the tray at every login (which the
# first-run question promises), and olva.pc name the install prefix: they
# are made when installing, for the prefix of that install or package.
install(CODE "
    set(OLVA_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
    set(OLVA_BINARY_DIR \"${CMAKE_BINARY_DIR}\")
    set(OLVA_INSTALL_DIR \"${OLVA_INSTALL_DIR}\")
    set(OLVA_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(OLVA_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
    set(OLVA_HEADER_DIR \"${OLVA_HEADER_DIR}\")
    set(OLVA_VERSION \"${PROJECT_VERSION}\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/install_prefixed.cmake\")")
install(FILES data/icons/olva.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)

# The Debian package: its dependencies are those of the shared libraries
# that the program and the library link (dpkg-shlibdeps).
set(CPACK_PACKAGE_NAME "olva")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "olva developers <olva@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop service for USB telephone-line boxes")
set(CPACK_PACKAGE_DESCRIPTION
    "A tray program with a local HTTP and WebSocket server that offers the lines of USB telephone-line boxes (ring, caller ID, recording, playback, dialling, GSM calls and SMS) to web pages, with the call records in SQLite.")
set(CPACK_DEBIAN_PACKAGE_SECTION "comm")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package installs below /usr, whatever prefix the tree was configured
# with: the program in /usr/share/olva keeps its users' data in their homes.
# It is staged with DESTDIR, so that the entries made when installing name
# /usr and the autostart entry lands in /etc.
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_INSTALL_PREFIX "/usr")
set(CPACK_SET_DESTDIR ON)
include(CPack)
