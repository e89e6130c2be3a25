# What `cmake --install` puts where, and the Debian package `cpack -G DEB`
# makes of it. The unit finds the program on systemd's own search path, so
# it serves a /usr and a /usr/local installation alike.
include(GNUInstallDirs)
# The manuals speak of the system they are installed on: its settings
# file, its device names, its examples.
if(WIN32)
  set(dcf_man_system ${CMAKE_CURRENT_SOURCE_DIR}/packaging/dcf77tx-windows.man)
  set(DCF_MAN_FACTOR_SETTINGS [[.IP \(bu 3
for the logon task, a line
.BI FACTOR= X
in
.I %ProgramData%\edcf77tx\esettings.txt
(the Start menu's "dcf77tx settings"), used from the next logon;]])
else()
  set(dcf_man_system ${CMAKE_CURRENT_SOURCE_DIR}/packaging/dcf77tx-linux.man)
  set(DCF_MAN_FACTOR_SETTINGS [[.IP \(bu 3
for the service, a line
.BI FACTOR= X
in
.I /etc/default/dcf77tx
and a restart of the service
.RB ( \%systemctl\ restart\ dcf77tx );]])
endif()
# Reads a system's parts of the manual: its output options, then its last
# sections, parted by a marker line; the tests read the other system's too.
function(dcf_read_man_system file)
  file(READ ${file} text)
  string(FIND "${text}" ".\\\" @@ the last sections @@\n" part)
  if(part EQUAL -1)
    message(FATAL_ERROR "${file} has no line marking its last sections")
  endif()
  string(SUBSTRING "${text}" 0 ${part} output)
  string(SUBSTRING "${text}" ${part} -1 last)
  set(DCF_MAN_OUTPUT "${output}" PARENT_SCOPE)
  set(DCF_MAN_SYSTEM "${last}" PARENT_SCOPE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
endfunction()
dcf_read_man_system(${dcf_man_system})
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/dcf77tx.1.in ${CMAKE_CURRENT_BINARY_DIR}/dcf77tx.1 @ONLY)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/quaver.1.in ${CMAKE_CURRENT_BINARY_DIR}/quaver.1 @ONLY)
# Windows: one folder, an installer and a zip.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/windows/windows.cmake)
  return()
endif()
install(TARGETS dcf77tx quaver RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The package's maintainer, named in its control file and its changelog.
set(DCF_MAINTAINER "dcf77tx maintainers <maintainers@dcf77tx.example.org>" CACHE STRING
    "The Debian package's maintainer: a name and a mail address")
# Manual pages and the changelog go in compressed as Debian wants them:
# gzip -9n, no name and no time stamp, so every build gives the same bytes.
# The uncompressed pages stay in the build folder for man -l.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
set(dcf_compressed "")
foreach(file dcf77tx.1 quaver.1 changelog)
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz
                     COMMAND gzip -9nkf ${CMAKE_CURRENT_BINARY_DIR}/${file}
                     DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${file} VERBATIM)
  list(APPEND dcf_compressed ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz)
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${dcf_compressed})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/dcf77tx.1.gz ${CMAKE_CURRENT_BINARY_DIR}/quaver.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The settings go under the prefix's etc/, or /etc for a prefix of /usr
# (or /), as GNUInstallDirs places them: an installation into a folder of
# its own never touches the system's. The prefix may be given only at
# install time (cmake --install --prefix), so it is read then, and the
# unit is written to read the settings from where they went. An
# installation never replaces the settings: they are the user's once
# edited (the package keeps them as a conffile). Where they cannot be
# written (/usr without root) they are skipped with a message.
install(CODE "set(dcf_settings_source \"${CMAKE_CURRENT_SOURCE_DIR}/packaging/dcf77tx.default\")
set(dcf_unit_source \"${CMAKE_CURRENT_SOURCE_DIR}/packaging/dcf77tx.service\")")
install(CODE [[
  if(CMAKE_INSTALL_PREFIX MATCHES "^/(usr/?)?$")
    set(dcf_etc /etc)
  else()
    set(dcf_etc "${CMAKE_INSTALL_PREFIX}/etc")
  endif()
  file(READ "${dcf_unit_source}" dcf_unit)
  string(REPLACE "/etc/default/dcf77tx" "${dcf_etc}/default/dcf77tx" dcf_unit "${dcf_unit}")
  set(dcf_unit_path "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/systemd/system/dcf77tx.service")
  message(STATUS "Installing: ${dcf_unit_path}")
  file(WRITE "${dcf_unit_path}" "${dcf_unit}")
  set(dcf_settings "$ENV{DESTDIR}${dcf_etc}/default/dcf77tx")
  set(dcf_writable 0)
  if("$ENV{DESTDIR}" STREQUAL "")
    # The settings' folder, or the nearest one above it that exists.
    execute_process(COMMAND sh -c "d=\"$1\"; while [ ! -e \"$d\" ]; do d=$(dirname \"$d\"); done; test -w \"$d\""
                            sh "${dcf_etc}/default" RESULT_VARIABLE dcf_writable)
  endif()
  if(EXISTS "${dcf_settings}")
    message(STATUS "Keeping: ${dcf_settings} (installing never replaces the settings)")
  elseif(NOT dcf_writable EQUAL 0)
    message(STATUS "Skipping: ${dcf_settings}, not writable here (the service's settings need a root installation)")
  else()
    file(INSTALL DESTINATION "${dcf_etc}/default" TYPE FILE RENAME dcf77tx FILES "${dcf_settings_source}")
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
set(CPACK_PACKAGE_CONTACT "${DCF_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Time-code transmitter (DCF77, MSF, WWVB, JJY) on a serial port or a sound card")
# One paragraph in lines Debian's checker accepts (under 80 columns).
set(CPACK_PACKAGE_DESCRIPTION "Keys a long-wave time code (DCF77, MSF, WWVB or JJY) onto the DTR and RTS
lines of a serial port, or synthesizes its carrier on a sound card (ALSA),
one frame a minute, so that radio-controlled clocks nearby set themselves
from the computer's clock. Includes the calibration tool quaver and a
hardened systemd unit, which is not enabled on installation. Licence: MIT.")
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
