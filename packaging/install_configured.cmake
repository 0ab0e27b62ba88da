# Runs at install time: the policy names the window program by its full path, which is only
# known once the install prefix is (cmake --install --prefix, CPack's /usr).
# Inputs: QVB_SOURCE, QVB_DESTINATION (relative to the prefix), QVB_BINDIR (relative),
# QVB_PROJECT_VERSION (the metainfo's release).
set(QVB_GUI_PATH "${CMAKE_INSTALL_PREFIX}/${QVB_BINDIR}/qvb886-fwupdate-gui")
get_filename_component(name "${QVB_SOURCE}" NAME)
string(REGEX REPLACE "\\.in$" "" name "${name}")
set(target "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${QVB_DESTINATION}/${name}")
message(STATUS "Installing: ${target}")
configure_file("${QVB_SOURCE}" "${target}" @ONLY)
file(CHMOD "${target}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
