if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake)
  return()
endif()

# The Debian package: `make package` runs cpack on the release build.
# It holds the program, its man page, the README and a desktop entry for the
# window. Installing does not build everything first: the package needs only
# the program, which the caller builds.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS quillane RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/docs/quillane.1 DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/quillane)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/quillane.desktop DESTINATION share/applications)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillane)
set(CPACK_PACKAGE_VENDOR "Quillane")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "A serial-line measuring device simulated on this computer")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quillane developers <quillane@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
