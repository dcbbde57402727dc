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
# tests with CTest, each test with the given extra properties.
# 32-bit Windows programs are listed when the tests run, not when they are
# built: the build must succeed on machines that cannot run them.
function(kestrel_add_gtest target)
  set(mode POST_BUILD)
  if(CMAKE_CROSSCOMPILING AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(mode PRE_TEST)
  endif()
  gtest_discover_tests(${target} DISCOVERY_MODE ${mode} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300 ${ARGN})
endfunction()
