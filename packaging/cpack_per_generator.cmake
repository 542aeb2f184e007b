# Read by CPack once per generator. The Debian package takes the dynamic
# programs and Debian's layout of the rest: compressed manual pages,
# copyright, changelog, README. The tarball takes the static programs and the
# installed tree's manual pages, README and licences. Both take the bash
# completion.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL programs debian completion)
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL static_programs manuals documents completion)
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_DECIMAL_TARBALL_NAME}")
  set(CPACK_ARCHIVE_FILE_NAME "${CPACK_DECIMAL_TARBALL_NAME}")
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
