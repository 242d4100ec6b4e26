# The program's version text lives in one place, the code: kCurrentVersion in
# src/app/program_values.h, the identity the update check compares with the published version.
# The build reads it from there, so the package, its metainfo, changelog and manual page always
# show the version the program itself holds.
set(_qy_version_header ${CMAKE_CURRENT_LIST_DIR}/../src/app/program_values.h)
file(STRINGS ${_qy_version_header} _qy_version_line
  REGEX "^inline constexpr const char\\* kCurrentVersion = \"[^\"]*\"")
if(NOT _qy_version_line MATCHES "kCurrentVersion = \"([^\"]+)\"")
  message(FATAL_ERROR "No version text (kCurrentVersion) found in ${_qy_version_header}")
endif()
set(QY_VERSION "${CMAKE_MATCH_1}")
# A Debian version must start with a digit and use only these characters.
if(NOT QY_VERSION MATCHES "^[0-9][A-Za-z0-9.+~]*$")
  message(FATAL_ERROR "The version text \"${QY_VERSION}\" cannot be a package version")
endif()
# Editing the version text configures the project again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_qy_version_header})
unset(_qy_version_line)
unset(_qy_version_header)
