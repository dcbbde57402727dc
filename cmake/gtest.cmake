# GoogleTest: the system package natively; built from the Debian sources in
# /usr/src/googletest when cross-building for Windows.
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_library(kestrel_gtest_main INTERFACE)
  target_link_libraries(kestrel_gtest_main INTERFACE gtest_main gtest)
else()
  find_package(GTest REQUIRED)
  add_library(kestrel_gtest_main INTERFACE)
  target_link_libraries(kestrel_gtest_main INTERFACE GTest::gtest_main GTest::gtest)
endif()

# kestrel_add_gtest(target): registers the program's tests with CTest.
function(kestrel_add_gtest target)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
endfunction()
