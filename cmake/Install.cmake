# What `cmake --install` lays down, relocatable into any prefix:
#
#   bin/quorindex, bin/dirext              the tools
#   lib/libdirext.so*                      the library
#   lib/dirext/libldap*.so*, liblber*.so*  the OpenSSL-backed OpenLDAP client
#                                          libraries, private: outside the
#                                          linker's search path, so they never
#                                          shadow the system's libldap
#   include/dirext.h, include/dirext/      the public headers
#   include/dirext/openldap/               the matching <ldap.h> and <lber.h>
#   lib/pkgconfig/libdirext.pc
#   lib/cmake/dirext/                      find_package(dirext): dirext::dirext
#   share/man/man1/quorindex.1, dirext.1
#
# Every run path is relative to the installed file ($ORIGIN), never to the
# build tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

option(DIREXT_INSTALL_OPENLDAP "Install the OpenLDAP client libraries privately with libdirext" ON)
set(DIREXT_PRIVATE_LIBDIR "${CMAKE_INSTALL_LIBDIR}/dirext")
set(DIREXT_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/dirext")

file(RELATIVE_PATH _bin_to_lib "/${CMAKE_INSTALL_BINDIR}" "/${CMAKE_INSTALL_LIBDIR}")
set_target_properties(dirext PROPERTIES INSTALL_RPATH "\$ORIGIN/dirext")
set_target_properties(quorindex dirext_tool PROPERTIES
  INSTALL_RPATH "\$ORIGIN/${_bin_to_lib};\$ORIGIN/${_bin_to_lib}/dirext")

install(TARGETS quorindex dirext_tool RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(TARGETS dirext EXPORT dirextTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" "${CMAKE_INSTALL_INCLUDEDIR}/dirext/openldap")
install(FILES "${PROJECT_SOURCE_DIR}/lib/include/dirext.h" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/lib/include/dirext" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(FILES "${PROJECT_SOURCE_DIR}/docs/quorindex.1" "${PROJECT_SOURCE_DIR}/docs/dirext.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/examples/" DESTINATION "${CMAKE_INSTALL_DOCDIR}/examples"
  FILES_MATCHING PATTERN "*.c")

# The OpenLDAP headers the public header reads (and <ldif.h>, for reading LDIF
# with the same libldap), next to it but out of the compiler's default search
# path.
set(_openldap_headers lber.h lber_types.h ldap.h ldap_cdefs.h ldap_features.h ldap_schema.h ldap_utf8.h ldif.h)
list(TRANSFORM _openldap_headers PREPEND "${OPENLDAP_INCLUDE_DIR}/")
install(FILES ${_openldap_headers} DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/dirext/openldap")

if(DIREXT_INSTALL_OPENLDAP)
  # The libraries with their soname and development links (installed as links).
  file(GLOB _openldap_libs "${OPENLDAP_LIBRARY_DIR}/libldap.so" "${OPENLDAP_LIBRARY_DIR}/libldap-*.so*"
                           "${OPENLDAP_LIBRARY_DIR}/liblber.so" "${OPENLDAP_LIBRARY_DIR}/liblber-*.so*")
  install(FILES ${_openldap_libs} DESTINATION "${DIREXT_PRIVATE_LIBDIR}")
  # Their run path pointed into the build tree; from now on they find each
  # other in their own directory.
  set(_fix_runpath [[
    file(GLOB _installed LIST_DIRECTORIES false
         "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@DIREXT_PRIVATE_LIBDIR@/lib*.so.*")
    foreach(_lib IN LISTS _installed)
      if(IS_SYMLINK "${_lib}")
        continue()
      endif()
      file(READ_ELF "${_lib}" RUNPATH _runpath RPATH _rpath)
      foreach(_old IN ITEMS "${_runpath}" "${_rpath}")
        if(_old)
          file(RPATH_CHANGE FILE "${_lib}" OLD_RPATH "${_old}" NEW_RPATH "$ORIGIN")
        endif()
      endforeach()
    endforeach()
  ]])
  string(CONFIGURE "${_fix_runpath}" _fix_runpath @ONLY)
  install(CODE "${_fix_runpath}")
endif()

# pkg-config: paths relative to the .pc file, so that the prefix can move.
file(RELATIVE_PATH DIREXT_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" DIREXT_PC_TO_PREFIX "${DIREXT_PC_TO_PREFIX}")
configure_file("${PROJECT_SOURCE_DIR}/cmake/libdirext.pc.in" "${PROJECT_BINARY_DIR}/libdirext.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/libdirext.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

# CMake package.
install(EXPORT dirextTargets NAMESPACE dirext:: DESTINATION "${DIREXT_CMAKE_DIR}")
configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/dirextConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/dirextConfig.cmake"
  INSTALL_DESTINATION "${DIREXT_CMAKE_DIR}"
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR DIREXT_PRIVATE_LIBDIR)
write_basic_package_version_file("${PROJECT_BINARY_DIR}/dirextConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/dirextConfig.cmake" "${PROJECT_BINARY_DIR}/dirextConfigVersion.cmake"
  DESTINATION "${DIREXT_CMAKE_DIR}")
