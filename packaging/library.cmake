# Install rules of libtav: the shared library (libtav.so.1.0.0 and its
# links), the archive libtav.a, the header, a pkg-config file and a CMake
# package exporting tav::tav and tav::tav_static.
include(CMakePackageConfigHelpers)

set(TAV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tav)
set(TAV_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS tav tav_static EXPORT tav-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/libtav/tav.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT tav-targets NAMESPACE tav:: DESTINATION ${TAV_CMAKE_DIR})

configure_file(${CMAKE_CURRENT_LIST_DIR}/tav-config.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/tav-config.cmake @ONLY)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tav-config-version.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tav-config.cmake ${CMAKE_CURRENT_BINARY_DIR}/tav-config-version.cmake
  DESTINATION ${TAV_CMAKE_DIR})

# From lib/pkgconfig (or lib/<arch>/pkgconfig) back up to the prefix.
file(RELATIVE_PATH TAV_PC_TO_PREFIX /${TAV_PKGCONFIG_DIR} /)
string(REGEX REPLACE "/$" "" TAV_PC_TO_PREFIX "${TAV_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tav.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tav.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tav.pc DESTINATION ${TAV_PKGCONFIG_DIR})
