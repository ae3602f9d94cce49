# Install layout and the Debian package. `cmake --install` puts the programs in bin/ (each
# folder installs its own: vantalink, vantalink-cli, vanta7-sim; the image files are looked up
# beside them), the desktop entry in share/applications, the window's icon in
# share/icons/hicolor, the manual pages in share/man/man1, bash completion for vantalink-cli and
# an empty share/vantalink/images, the system's image directory. `cpack` (or the `package`
# target) builds a .deb installing under /usr.

install(FILES ${CMAKE_CURRENT_LIST_DIR}/vantalink.desktop DESTINATION share/applications)
foreach(size 32 64 128)
  install(FILES ${PROJECT_SOURCE_DIR}/app/icons/vantalink-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME vantalink.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/vantalink)
set(CPACK_PACKAGE_CONTACT "vantaLink developers <vantalink@norvane.invalid>")
# The licence as Debian reads it (copyright, machine-readable) and the project's changelog in
# Debian's form, compressed as Debian installs it.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION share/doc/vantalink)
set(changelog ${PROJECT_BINARY_DIR}/changelog)
add_custom_command(
  OUTPUT ${changelog}.gz
  COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/CHANGELOG.md -DOUT=${changelog}
          -DPACKAGE=vantalink -DMAINTAINER=${CPACK_PACKAGE_CONTACT} -P
          ${CMAKE_CURRENT_LIST_DIR}/make_changelog.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${CMAKE_CURRENT_LIST_DIR}/make_changelog.cmake
  COMMENT "Writing the Debian changelog from CHANGELOG.md"
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${changelog}.gz)
install(FILES ${changelog}.gz DESTINATION share/doc/vantalink)
install(DIRECTORY DESTINATION share/vantalink/images)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/vantalink-cli.bash
        DESTINATION share/bash-completion/completions RENAME vantalink-cli)

# The manual pages are written by the programs from the texts their --help prints: PROGRAM:PAGE.
set(manual_pages vantalink-cli:vantalink-cli)
if(TARGET vantalink)
  list(APPEND manual_pages vantalink-cli:vantalink)
endif()
if(TARGET vanta7-sim)
  list(APPEND manual_pages vanta7-sim:vanta7-sim)
endif()
set(manual_files)
foreach(entry ${manual_pages})
  string(REPLACE ":" ";" entry ${entry})
  list(GET entry 0 program)
  list(GET entry 1 page)
  set(manual ${PROJECT_BINARY_DIR}/man/${page}.1)
  add_custom_command(
    OUTPUT ${manual}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DPAGE=${page}
            -DOUT=${manual} -P ${CMAKE_CURRENT_LIST_DIR}/make_manual.cmake
    DEPENDS ${program} ${CMAKE_CURRENT_LIST_DIR}/make_manual.cmake
    COMMENT "Writing the manual page ${page}(1)"
    VERBATIM)
  list(APPEND manual_files ${manual}.gz)
endforeach()
add_custom_target(manual_pages ALL DEPENDS ${manual_files})
install(FILES ${manual_files} DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantalink)
set(CPACK_PACKAGE_VENDOR Norvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Update and setup tool for the Vanta7 PPC4xx JTAG debug probe")
# One line of the description to a line of the control file: Debian reads at most 80 columns.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "vantaLink connects to the Vanta7 probe's boot loader over a serial line,\n"
    "shows its versions, serial number and MAC address, updates firmware and\n"
    "logic, erases flash and logic and writes the probe's network setup. It\n"
    "comes as a window (vantalink), a command line for one probe or many at\n"
    "once (vantalink-cli) and a virtual probe (vanta7-sim).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(deb_depends "libc6 (>= 2.36), libstdc++6 (>= 12)")
if(TARGET vantalink)
  # The window needs the Qt 6 runtime and a platform plugin (xcb, wayland).
  string(APPEND deb_depends ", libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), "
         "libqt6widgets6 (>= 6.4), qt6-qpa-plugins (>= 6.4)")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${deb_depends}")
include(CPack)
