# The Windows zip: `make package-windows` runs cpack on the cross-built
# release program. It holds quillane.exe, which needs only system DLLs, and
# README-windows.txt on running it, with the line ends Windows editors expect.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(readme ${PROJECT_BINARY_DIR}/README-windows.txt)
configure_file(${PROJECT_SOURCE_DIR}/packaging/README-windows.txt ${readme} COPYONLY)
file(READ ${readme} readme_text)
file(CONFIGURE OUTPUT ${readme} CONTENT "${readme_text}" NEWLINE_STYLE CRLF)

install(TARGETS quillane RUNTIME DESTINATION .)
install(FILES ${readme} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quillane)
set(CPACK_PACKAGE_VENDOR "Quillane")
set(CPACK_SYSTEM_NAME windows-x86_64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
