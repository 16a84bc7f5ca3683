# quillane_add_tests(<dir> LIBS <libs...> [LABELS <labels...>])
# Every <name>_test.cpp in <dir> becomes its own test executable, so a unit
# being worked on never stops the other units' tests from building. Tests of
# one platform follow the rule of cmake/PlatformSources.cmake.
# A cross build lists its tests when ctest runs (through the emulator, in the
# test preset's environment), not after each link.
function(quillane_add_tests dir)
  cmake_parse_arguments(ARG "" "" "LIBS;LABELS" ${ARGN})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  quillane_platform_sources(test_sources "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_test.cpp")
  file(GLOB test_helpers CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/support/*.cpp")
  foreach(src IN LISTS test_sources)
    get_filename_component(name "${src}" NAME_WE)
    set(target "${dir}_${name}")
    string(REPLACE "/" "_" target "${target}")
    add_executable(${target} ${src} ${test_helpers})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main
                                            quillane_warnings)
    # The unit's own folder, and the project root for the helpers every test
    # shares ("tests/support/...").
    target_include_directories(${target} PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/${dir}"
                                                 "${PROJECT_SOURCE_DIR}")
    if(CMAKE_CROSSCOMPILING)
      set(discovery DISCOVERY_MODE PRE_TEST)
    else()
      set(discovery "")
    endif()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 ${discovery}
                         PROPERTIES TIMEOUT 300 LABELS "${ARG_LABELS}")
  endforeach()
endfunction()
