# Third-party code for a cross build, taken from the build machine's Debian
# packages without reaching into its /usr/include (glibc headers must never
# be on a mingw include path) and without downloading anything.

# GoogleTest built from Debian's source package.
function(quillane_cross_gtest)
  include(FetchContent)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  FetchContent_Declare(googletest SOURCE_DIR /usr/src/googletest)
  FetchContent_MakeAvailable(googletest)
endfunction()

# CLI11 is header-only: a folder holding only a link to its headers goes on
# the include path.
function(quillane_cross_cli11)
  if(TARGET CLI11::CLI11)
    return()
  endif()
  if(NOT EXISTS /usr/include/CLI/CLI.hpp)
    message(FATAL_ERROR "CLI11 headers not found in /usr/include/CLI (package libcli11-dev)")
  endif()
  set(folder ${CMAKE_BINARY_DIR}/cli11-include)
  file(MAKE_DIRECTORY ${folder})
  if(NOT EXISTS ${folder}/CLI)
    file(CREATE_LINK /usr/include/CLI ${folder}/CLI SYMBOLIC)
  endif()
  add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
  target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${folder})
endfunction()
