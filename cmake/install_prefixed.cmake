# Run by "cmake --install" and by cpack: the files whose text names the
# install prefix, made for the prefix of this install. The variables OLVA_*
# come from the install rules (cmake/install.cmake).
set(prefix "${CMAKE_INSTALL_PREFIX}")
# One folder per destination: installs into two prefixes may run at once.
string(MD5 destination "$ENV{DESTDIR}${prefix}")
set(made "${OLVA_BINARY_DIR}/prefixed/${destination}")
set(OLVA_PREFIX "${prefix}")
set(OLVA_SERVICE_PATH "${prefix}/${OLVA_INSTALL_DIR}/olva_service")
configure_file("${OLVA_SOURCE_DIR}/data/pkgconfig/olva.pc.in" "${made}/olva.pc" @ONLY)
configure_file("${OLVA_SOURCE_DIR}/data/desktop/olva.desktop.in" "${made}/olva.desktop" @ONLY)
configure_file("${OLVA_SOURCE_DIR}/data/desktop/olva-autostart.desktop.in" "${made}/autostart/olva.desktop" @ONLY)

# The session's autostart directory is /etc/xdg/autostart; below another
# prefix the entry stays inside it.
if(prefix STREQUAL "/usr")
    set(autostart "/etc/xdg/autostart")
else()
    set(autostart "${prefix}/etc/xdg/autostart")
endif()
# file(INSTALL) puts DESTDIR, when set, before each destination.
file(INSTALL "${made}/olva.pc" DESTINATION "${prefix}/${OLVA_LIBDIR}/pkgconfig")
file(INSTALL "${made}/olva.desktop" DESTINATION "${prefix}/${OLVA_DATADIR}/applications")
file(INSTALL "${made}/autostart/olva.desktop" DESTINATION "${autostart}")
