# Tests of a cross build: GoogleTest compiled from its sources for the target, and each test
# program registered as one test. A cross-built program runs only through
# CMAKE_CROSSCOMPILING_EMULATOR (Wine for win64), which CTest puts in front of the command; when
# there is none (win32) the tests are built but not run. One process per program instead of one
# per case: every start under Wine costs a good part of a second.
set(PAGORIN_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${PAGORIN_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${PAGORIN_GTEST_SOURCE_DIR} "
                      "(Debian: googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${PAGORIN_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(library gtest gtest_main gmock gmock_main)
  if(TARGET ${library} AND NOT TARGET GTest::${library})
    add_library(GTest::${library} ALIAS ${library})
  endif()
endforeach()

# gtest_discover_tests(target [PROPERTIES name value ...] [other options]) as one test per
# program; options that only concern discovery are ignored.
function(gtest_discover_tests target)
  cmake_parse_arguments(arg "" "" "PROPERTIES" ${ARGN})
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    return()
  endif()
  add_test(NAME ${target} COMMAND ${target} --gtest_brief=1)
  if(arg_PROPERTIES)
    set_tests_properties(${target} PROPERTIES ${arg_PROPERTIES})
  endif()
endfunction()
