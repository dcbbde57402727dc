# GoogleTest: the system package natively; built from the Debian sources in
# /usr/src/googletest when cross-building for Windows, where the test
# programs then run under Wine (cmake/wine.cmake).
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_library(kestrel_gtest INTERFACE)
  target_link_libraries(kestrel_gtest INTERFACE gtest)
  add_library(kestrel_gtest_main INTERFACE)
  target_link_libraries(kestrel_gtest_main INTERFACE gtest_main gtest)
  include(${CMAKE_CURRENT_LIST_DIR}/wine.cmake)
else()
  find_package(GTest REQUIRED)
  add_library(kestrel_gtest INTERFACE)
  target_link_libraries(kestrel_gtest INTERFACE GTest::gtest)
  add_library(kestrel_gtest_main INTERFACE)
  target_link_libraries(kestrel_gtest_main INTERFACE GTest::gtest_main GTest::gtest)
endif()

# kestrel_add_gtest(target [property value]...): registers the program's
# tests with CTest, each test with the given extra properties. A Windows
# program is one CTest test that runs all of its cases: under Wine every
# process start costs most of a second, which per case turned seconds of
# testing into a quarter of an hour. Being run, not listed, at build time,
# 32-bit programs also build on machines that cannot run them.
function(kestrel_add_gtest target)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES TIMEOUT 900 ${ARGN})
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300 ${ARGN})
  endif()
endfunction()
