# Running the Windows test programs: under Wine, through a wrapper that keeps
# the Wine prefix inside the build tree. CTest and test discovery reach it as
# the cross-compiling emulator of every program built after this point.
# 32-bit programs need a kernel that runs 32-bit code and wine32; scripts/test
# runs them only where both are present.
if(NOT CMAKE_CROSSCOMPILING OR NOT WIN32 OR CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()

find_program(KESTREL_WINE wine)
if(NOT KESTREL_WINE)
  message(WARNING "wine not found: the Windows tests will be built but cannot run")
  return()
endif()

set(KESTREL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
  @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
