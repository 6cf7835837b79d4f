# Project-wide warning and sanitizer settings, applied to project targets only.
add_library(dirext_build_flags INTERFACE)
target_compile_options(dirext_build_flags INTERFACE -Wall -Wextra
  # Designated initializers that leave members at their defaults are intended.
  $<$<COMPILE_LANGUAGE:CXX>:-Wno-missing-field-initializers>
  $<$<BOOL:${DIREXT_WERROR}>:-Werror>)
# OpenLDAP 2.5 deprecates ldap_init & co; the index tool uses them on purpose.
target_compile_definitions(dirext_build_flags INTERFACE LDAP_DEPRECATED=1)

if(DIREXT_SANITIZE STREQUAL "address")
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(DIREXT_SANITIZE STREQUAL "thread")
  set(_san -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT DIREXT_SANITIZE STREQUAL "")
  message(FATAL_ERROR "DIREXT_SANITIZE must be empty, 'address' or 'thread'")
endif()
if(_san)
  # Applied globally so that tests, tools and the library share one runtime.
  add_compile_options(${_san})
  add_link_options(${_san})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # The C examples load the C++ library: clang links its C++ sanitizer
    # runtime parts (and the C++ library they need) only into programs it
    # links as C++ unless asked.
    add_link_options("$<$<LINK_LANGUAGE:C>:-fsanitize-link-c++-runtime;-lstdc++>")
  endif()
endif()
