# What `cmake --install` puts where, and the Debian package `cpack -G DEB`
# makes of it. The unit finds the program on systemd's own search path, so
# it serves a /usr and a /usr/local installation alike.
include(GNUInstallDirs)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/dcf77tx.1.in ${CMAKE_CURRENT_BINARY_DIR}/dcf77tx.1 @ONLY)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/quaver.1.in ${CMAKE_CURRENT_BINARY_DIR}/quaver.1 @ONLY)
# Windows: one folder, an installer and a zip.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/windows/windows.cmake)
  return()
endif()
install(TARGETS dcf77tx quaver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/dcf77tx.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quaver.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/dcf77tx.service DESTINATION lib/systemd/system)
# The unit reads its settings from /etc whatever the prefix. An installation
# never replaces them: they are the user's once edited (the package keeps
# them as a conffile). Without root (a prefix in the home directory) there
# is no service to set, and /etc is left alone.
install(CODE "set(dcf_settings_source \"${CMAKE_CURRENT_SOURCE_DIR}/packaging/dcf77tx.default\")")
install(CODE [[
  set(dcf_settings "$ENV{DESTDIR}/etc/default/dcf77tx")
  set(dcf_writable 0)
  if("$ENV{DESTDIR}" STREQUAL "")
    execute_process(COMMAND sh -c "test -w /etc/default || { test ! -e /etc/default && test -w /etc; }"
                    RESULT_VARIABLE dcf_writable)
  endif()
  if(EXISTS "${dcf_settings}")
    message(STATUS "Keeping: ${dcf_settings} (installing never replaces the settings)")
  elseif(NOT dcf_writable EQUAL 0)
    message(STATUS "Skipping: /etc/default/dcf77tx, not writable here (the service's settings need a root installation)")
  else()
    file(INSTALL DESTINATION /etc/default TYPE FILE RENAME dcf77tx FILES "${dcf_settings_source}")
  endif()
]])

# The licence: MIT. The text, where the tree has it, goes where Debian
# keeps each package's copyright.
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
  set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
endif()

set(CPACK_PACKAGE_NAME dcf77tx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "dcf77tx maintainers <dcf77tx@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Time-code transmitter (DCF77, MSF, WWVB, JJY) on a serial port or a sound card")
set(CPACK_PACKAGE_DESCRIPTION "Keys the DCF77 long-wave time code onto the DTR and RTS lines of a serial port, one frame a minute, so that radio-controlled clocks next to a small coupling stage set themselves from the computer's clock. Includes the calibration tool quaver and a hardened systemd unit, which is not enabled on installation. Licence: MIT.")
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
