# Shared part of the mingw-w64 toolchains. The including toolchain sets
# KESTREL_MINGW_TRIPLE (i686-w64-mingw32 or x86_64-w64-mingw32) first.
#
# The posix thread model is used so that the C++ thread library is complete;
# everything is linked statically, so the programs and the add-in DLL need
# no runtime DLL beside the system's own (and run under Wine as they are).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

find_program(KESTREL_MINGW_CXX NAMES ${KESTREL_MINGW_TRIPLE}-g++-posix ${KESTREL_MINGW_TRIPLE}-g++
             REQUIRED)
find_program(KESTREL_MINGW_CC NAMES ${KESTREL_MINGW_TRIPLE}-gcc-posix ${KESTREL_MINGW_TRIPLE}-gcc
             REQUIRED)
set(CMAKE_C_COMPILER ${KESTREL_MINGW_CC})
set(CMAKE_CXX_COMPILER ${KESTREL_MINGW_CXX})
set(CMAKE_RC_COMPILER ${KESTREL_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${KESTREL_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump of the target")

set(CMAKE_FIND_ROOT_PATH /usr/${KESTREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
