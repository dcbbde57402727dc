# 32-bit Windows: the product DLL. Configure with -DKESTREL_PRODUCT_ONLY=ON;
# nothing built here can run on this machine, the build checks the DLL.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KESTREL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
