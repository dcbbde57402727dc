# 32-bit Windows: the product DLL (configure with -DKESTREL_PRODUCT_ONLY=ON),
# and the Windows test programs in 32-bit, run under Wine where the machine
# runs 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KESTREL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
