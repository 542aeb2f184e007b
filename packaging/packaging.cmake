# Packages of both programs: a Debian package and a tarball of the installed
# tree, made by CPack (see the package preset).

# Debian wants manual pages compressed, reproducibly (no name, no time stamp).
set(debian_files)
foreach(page decimal decimal-diff)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/debian/${page}.1.gz)
  add_custom_command(
    OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/man/${page}.1 debian/${page}.1
    COMMAND gzip -9nf debian/${page}.1
    DEPENDS ${PROJECT_SOURCE_DIR}/man/${page}.1
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    VERBATIM)
  list(APPEND debian_files ${compressed})
endforeach()
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz)
add_custom_command(
  OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/changelog debian/changelog
  COMMAND gzip -9nf debian/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  VERBATIM)
add_custom_target(debian_files ALL DEPENDS ${debian_files} ${changelog})

# The machine-readable copyright file, with the licence as the project states it.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(STRIP "${license}" license)
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " license "${license}")
set(LICENSE_TEXT " ${license}")
# The licence of dygraphs, which decimal-diff's page embeds: its permission notice.
file(READ ${PROJECT_SOURCE_DIR}/packaging/dygraphs-license.txt dygraphs_license)
string(FIND "${dygraphs_license}" "Permission is hereby granted" notice)
string(SUBSTRING "${dygraphs_license}" ${notice} -1 dygraphs_license)
string(STRIP "${dygraphs_license}" dygraphs_license)
string(REPLACE "\n\n" "\n.\n" dygraphs_license "${dygraphs_license}")
string(REPLACE "\n" "\n " dygraphs_license "${dygraphs_license}")
set(DYGRAPHS_LICENSE_TEXT " ${dygraphs_license}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in debian/copyright @ONLY)

install(FILES ${debian_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/copyright ${changelog} README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME decimal)
set(CPACK_PACKAGE_VENDOR "The decimal developers")
set(CPACK_PACKAGE_CONTACT "The decimal developers <decimal@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compare fixed-point results with a reference model")
set(CPACK_PACKAGE_DESCRIPTION
    "For people who verify fixed-point signal-processing code: decimal prints
the Q1.11 results of a reference model and of an implementation under test
as decimal numbers, index by index, beside the raw input sample;
decimal-diff gives the verdict, with the differences in least significant
bits, a tolerance, figures such as the SNR, a plot and an exit status for CI.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack_per_generator.cmake)
# Both are made of components (see cpack_per_generator.cmake): the tarball of
# the statically linked programs and the tree's documents, named for its
# architecture; the Debian package of the dynamic ones and Debian's layout.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DECIMAL_TARBALL_NAME "decimal-${PROJECT_VERSION}-Linux-${CMAKE_SYSTEM_PROCESSOR}")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS gnuplot-nox)
# dpkg-shlibdeps reads the dependencies off the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
