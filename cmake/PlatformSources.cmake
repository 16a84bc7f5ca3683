# quillane_platform_sources(<out> <globs...>)
# The sources the globs find, less those of the other platform: a file named
# *_posix.cpp (a test *_posix_test.cpp) or inside a posix/ folder is built on
# POSIX systems only, one named *_win32.cpp (*_win32_test.cpp) or inside a
# win32/ folder on Windows only.
function(quillane_platform_sources out)
  file(GLOB sources CONFIGURE_DEPENDS ${ARGN})
  if(WIN32)
    set(other posix)
  else()
    set(other win32)
  endif()
  list(FILTER sources EXCLUDE REGEX "(_${other}(_test)?\\.cpp$|/${other}/)")
  set(${out} ${sources} PARENT_SCOPE)
endfunction()
