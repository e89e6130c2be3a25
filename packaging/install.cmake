# What `cmake --install` puts where, and the Debian package `cpack -G DEB`
# makes of it. The unit finds the program on systemd's own search path, so
# it serves a /usr and a /usr/local installation alike.
include(GNUInstallDirs)
install(TARGETS dcf77tx quaver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  return()
endif()
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/dcf77tx.1.in ${CMAKE_CURRENT_BINARY_DIR}/dcf77tx.1 @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/dcf77tx.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/quaver.1.in ${CMAKE_CURRENT_BINARY_DIR}/quaver.1 @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quaver.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/dcf77tx.service DESTINATION lib/systemd/system)
# The unit reads its settings from /etc whatever the prefix.
install(FILES packaging/dcf77tx.default DESTINATION /etc/default RENAME dcf77tx)

set(CPACK_PACKAGE_NAME dcf77tx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "dcf77tx maintainers <dcf77tx@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DCF77 time-code transmitter on a serial port's DTR and RTS lines")
set(CPACK_PACKAGE_DESCRIPTION "Keys the DCF77 long-wave time code onto the DTR and RTS lines of a serial port, one frame a minute, so that radio-controlled clocks next to a small coupling stage set themselves from the computer's clock. Includes the calibration tool quaver and a hardened systemd unit, which is not enabled on installation.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libasound2 (>= 1.1)")
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
else()
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
# Edits to the settings survive upgrades.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/conffiles "/etc/default/dcf77tx\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/conffiles)
set(CPACK_GENERATOR DEB)
include(CPack)
