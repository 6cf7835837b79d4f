# Locates the OpenSSL-backed OpenLDAP client libraries.  scripts/build-openldap.sh
# builds them into build/deps/openldap; DIREXT_OPENLDAP_PREFIX may name another
# prefix (for example /usr on a system whose libldap already uses OpenSSL).
set(DIREXT_OPENLDAP_PREFIX "${PROJECT_SOURCE_DIR}/build/deps/openldap"
    CACHE PATH "Prefix of an OpenSSL-backed OpenLDAP 2.5 client library build")

find_path(OPENLDAP_INCLUDE_DIR ldap.h PATHS "${DIREXT_OPENLDAP_PREFIX}/include" NO_DEFAULT_PATH)
find_library(OPENLDAP_LDAP_LIBRARY ldap PATHS "${DIREXT_OPENLDAP_PREFIX}/lib" NO_DEFAULT_PATH)
find_library(OPENLDAP_LBER_LIBRARY lber PATHS "${DIREXT_OPENLDAP_PREFIX}/lib" NO_DEFAULT_PATH)
if(NOT OPENLDAP_INCLUDE_DIR OR NOT OPENLDAP_LDAP_LIBRARY OR NOT OPENLDAP_LBER_LIBRARY)
  message(FATAL_ERROR "OpenLDAP client libraries not found under ${DIREXT_OPENLDAP_PREFIX}; "
                      "run scripts/setup.sh (it builds them) or set DIREXT_OPENLDAP_PREFIX")
endif()
get_filename_component(OPENLDAP_LIBRARY_DIR "${OPENLDAP_LDAP_LIBRARY}" DIRECTORY)

add_library(openldap::lber SHARED IMPORTED)
set_target_properties(openldap::lber PROPERTIES
  IMPORTED_LOCATION "${OPENLDAP_LBER_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${OPENLDAP_INCLUDE_DIR}")
add_library(openldap::ldap SHARED IMPORTED)
set_target_properties(openldap::ldap PROPERTIES
  IMPORTED_LOCATION "${OPENLDAP_LDAP_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${OPENLDAP_INCLUDE_DIR}"
  INTERFACE_LINK_LIBRARIES openldap::lber)

# Every binary of the build finds the private libldap through its run path,
# never through the system's (GnuTLS) one that has the same soname.
list(APPEND CMAKE_BUILD_RPATH "${OPENLDAP_LIBRARY_DIR}")
