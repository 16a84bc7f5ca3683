# Warnings are errors for our own targets; third-party headers come in as SYSTEM.
add_library(quillane_warnings INTERFACE)
target_compile_options(quillane_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough
  -Werror)
