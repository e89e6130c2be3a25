# Read by cpack for each package: the zip installs only the files outside
# the component "logon" (the logon launcher and its settings).
if(CPACK_GENERATOR STREQUAL "ZIP")
  string(REPLACE ";ALL;" ";Unspecified;" CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_INSTALL_CMAKE_PROJECTS}")
endif()
