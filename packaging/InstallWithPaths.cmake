# Runs at install time. Writes the installed files that name other installed files by their
# absolute path, for the prefix the installation really goes to: /usr in the Debian package
# (which stages under DESTDIR), or the prefix given to "cmake --install".
# Set before it runs: ORVANE_PACKAGING_DIR (these sources), ORVANE_WRITE (program: the menu
# entry and the service unit; lab: the lab wrapper) and, relative to the prefix,
# ORVANE_BIN_SUBDIR, ORVANE_DATA_SUBDIR, ORVANE_APPLICATIONS_SUBDIR and ORVANE_UNIT_SUBDIR.
set(ORVANE_WEB_ROOT "${CMAKE_INSTALL_PREFIX}/${ORVANE_DATA_SUBDIR}/www")
set(ORVANE_LAB_SCRIPT "${CMAKE_INSTALL_PREFIX}/${ORVANE_DATA_SUBDIR}/lab/orvane-lab.sh")
set(ORVANE_INSTALLED_BIN_DIR "${CMAKE_INSTALL_PREFIX}/${ORVANE_BIN_SUBDIR}")
set(staging "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

# source, destination relative to the prefix, then the file's permissions.
function(orvane_install_configured source destination)
    message(STATUS "Installing: ${staging}/${destination}")
    configure_file("${ORVANE_PACKAGING_DIR}/${source}" "${staging}/${destination}" @ONLY
                   FILE_PERMISSIONS ${ARGN})
endfunction()

if(ORVANE_WRITE STREQUAL "program")
    orvane_install_configured(orvanesrv.desktop.in
                              "${ORVANE_APPLICATIONS_SUBDIR}/orvanesrv.desktop"
                              OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    orvane_install_configured(orvanesrv.service.in "${ORVANE_UNIT_SUBDIR}/orvanesrv.service"
                              OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
elseif(ORVANE_WRITE STREQUAL "lab")
    orvane_install_configured(orvane-lab.in "${ORVANE_BIN_SUBDIR}/orvane-lab"
                              OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                              WORLD_READ WORLD_EXECUTE)
endif()
