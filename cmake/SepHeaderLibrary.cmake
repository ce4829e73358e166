# A header-only library from Debian for a target. The Linux build finds its
# CMake package; the Windows cross build takes the build machine's headers,
# copied into a folder of their own so that no other Linux header comes
# along.
#   sep_header_library(TARGET target PACKAGE CLI11 VERSION 2 IMPORTED CLI11::CLI11
#                      HEADER CLI/CLI.hpp DEBIAN libcli11-dev)
function(sep_header_library)
  cmake_parse_arguments(ARG "" "TARGET;PACKAGE;VERSION;IMPORTED;HEADER;DEBIAN" "" ${ARGN})
  if(WIN32)
    # The header's top folder ("CLI" of "CLI/CLI.hpp") is what is copied.
    string(REGEX REPLACE "/.*" "" top "${ARG_HEADER}")
    string(TOUPPER "SEP_${ARG_PACKAGE}_DIR" found)
    find_path(${found} "${ARG_HEADER}" PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT ${found})
      message(FATAL_ERROR "${ARG_HEADER} not found: install ${ARG_DEBIAN} (bash scripts/setup.sh)")
    endif()
    string(TOLOWER "${ARG_PACKAGE}" folder)
    file(COPY "${${found}}/${top}" DESTINATION "${CMAKE_BINARY_DIR}/${folder}")
    target_include_directories(${ARG_TARGET} SYSTEM PUBLIC "${CMAKE_BINARY_DIR}/${folder}")
  else()
    find_package(${ARG_PACKAGE} ${ARG_VERSION} REQUIRED)
    target_link_libraries(${ARG_TARGET} PUBLIC ${ARG_IMPORTED})
  endif()
endfunction()
