# The Windows package: the programs, the licence, the Windows guide and both
# manuals as text, the logon task's launcher and its settings, all in one
# folder. `cpack` makes an NSIS installer (its template lies beside this
# file) and a zip of the programs and texts without the launcher and its
# settings, which need the installer's task and %ProgramData%\dcf77tx.
# Texts get Windows line ends.
install(TARGETS dcf77tx quaver RUNTIME DESTINATION .)
install(TARGETS dcf77tx-logon RUNTIME DESTINATION . COMPONENT logon)
# Static, as the cross build's toolchain file links them, so that a native
# MSYS2 build also runs where MinGW's libraries are not installed.
if(MINGW)
  target_link_options(dcf77tx PRIVATE -static)
  target_link_options(quaver PRIVATE -static)
  target_link_options(dcf77tx-logon PRIVATE -static)
endif()

set(dcf_windows_texts ${CMAKE_CURRENT_BINARY_DIR}/windows-package)
find_program(GROFF_PROGRAM groff)
if(NOT GROFF_PROGRAM)
  message(STATUS "groff not found: the Windows package's manuals are their manual-page source")
endif()

# Writes TARGET from SOURCE with Windows line ends; MANUAL renders a manual
# page as plain text first (groff, ASCII, no overstriking).
function(dcf_windows_text source target)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  if(ARGV2 STREQUAL "MANUAL" AND GROFF_PROGRAM)
    execute_process(COMMAND ${GROFF_PROGRAM} -t -man -Tascii -P-cbou INPUT_FILE ${source}
                    OUTPUT_VARIABLE text RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "groff could not render ${source}")
    endif()
  else()
    file(READ ${source} text)
  endif()
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${dcf_windows_texts}/${target} "${text}")
endfunction()

dcf_windows_text(${CMAKE_CURRENT_BINARY_DIR}/dcf77tx.1 dcf77tx-manual.txt MANUAL)
dcf_windows_text(${CMAKE_CURRENT_BINARY_DIR}/quaver.1 quaver-manual.txt MANUAL)
# The Windows guide, not the Markdown README, beside the programs.
dcf_windows_text(${CMAKE_CURRENT_LIST_DIR}/README-windows.txt README.txt)
dcf_windows_text(${CMAKE_CURRENT_SOURCE_DIR}/LICENSE LICENSE.txt)
# The settings as installed; the installer copies them to
# %ProgramData%\dcf77tx\settings.txt where that is absent.
dcf_windows_text(${CMAKE_CURRENT_LIST_DIR}/settings.txt settings-default.txt)
install(FILES ${dcf_windows_texts}/dcf77tx-manual.txt ${dcf_windows_texts}/quaver-manual.txt
              ${dcf_windows_texts}/README.txt ${dcf_windows_texts}/LICENSE.txt
        DESTINATION .)
install(FILES ${dcf_windows_texts}/settings-default.txt DESTINATION . COMPONENT logon)

set(CPACK_PACKAGE_NAME dcf77tx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR dcf77tx)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Time-code transmitter (DCF77, MSF, WWVB, JJY) on a serial port or a sound card")
set(CPACK_PACKAGE_INSTALL_DIRECTORY dcf77tx)
set(CPACK_RESOURCE_FILE_LICENSE ${dcf_windows_texts}/LICENSE.txt)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
# One set of files for the installer; the zip leaves out the launcher.
set(CPACK_MONOLITHIC_INSTALL ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/zip-files.cmake)
include(CPack)
