# Warnings are errors for our own targets; third-party headers come in as SYSTEM.
# -Wnull-dereference is left out: with optimisation GCC 12 reports it inside
# libstdc++'s stream buffers, which no code of ours can change.
add_library(quillane_warnings INTERFACE)
target_compile_options(quillane_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough
  -Werror)
# GCC 12 at -O3 reports copies inside libstdc++'s string concatenation as
# overlapping (-Wrestrict false positives); keep them visible but not fatal.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(quillane_warnings INTERFACE -Wno-error=restrict)
endif()
