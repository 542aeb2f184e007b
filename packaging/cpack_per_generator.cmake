# Read by CPack once per generator. The Debian package takes the dynamic
# programs and Debian's layout of the rest: compressed manual pages,
# copyright, changelog, README. The tarball takes the static programs and the
# installed tree's manual pages, README and licence.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL programs debian)
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_COMPONENTS_ALL static_programs manuals documents)
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_DECIMAL_TARBALL_NAME}")
  set(CPACK_ARCHIVE_FILE_NAME "${CPACK_DECIMAL_TARBALL_NAME}")
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
