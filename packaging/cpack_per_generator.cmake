# Read by CPack once per generator. The Debian package takes the programs and
# Debian's layout of the rest: compressed manual pages, copyright, changelog.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL programs debian)
endif()
