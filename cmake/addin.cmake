# The product library. It exports exactly one symbol, AAPI_Addin.
add_library(kestrel_addin SHARED src/addin/export.cpp)
target_link_libraries(kestrel_addin PRIVATE kestrel_core kestrel_platform)
set_target_properties(kestrel_addin PROPERTIES
  OUTPUT_NAME kestrel
  PREFIX ""
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
if(NOT WIN32)
  target_link_options(kestrel_addin PRIVATE
    -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/addin.map -Wl,--no-undefined)
else()
  # kestrel.dll: the C++ and GCC run-time libraries linked in (-static comes
  # from the toolchain), nothing exported but what the source marks.
  target_link_options(kestrel_addin PRIVATE
    -static-libgcc -static-libstdc++ -Wl,--no-undefined -Wl,--exclude-all-symbols)

  # Every build checks the DLL it produced: one export, AAPI_Addin, as data;
  # a shared data section; no run-time DLL of the compiler among its
  # imports; and, on 32-bit, member functions in the thiscall convention.
  # A failed check leaves no stamp, so the next build checks again.
  if(NOT CMAKE_OBJDUMP)
    message(FATAL_ERROR "objdump of the target is needed to check kestrel.dll")
  endif()
  set(KESTREL_DLL_STAMP ${CMAKE_BINARY_DIR}/kestrel.dll.checked)
  add_custom_command(OUTPUT ${KESTREL_DLL_STAMP}
    COMMAND ${CMAKE_COMMAND}
      -DDLL=$<TARGET_FILE:kestrel_addin>
      -DOBJDUMP=${CMAKE_OBJDUMP}
      -DPOINTER_SIZE=${CMAKE_SIZEOF_VOID_P}
      -DSTAMP=${KESTREL_DLL_STAMP}
      -P ${CMAKE_SOURCE_DIR}/cmake/check-addin-dll.cmake
    DEPENDS kestrel_addin ${CMAKE_SOURCE_DIR}/cmake/check-addin-dll.cmake
    COMMENT "Checking the exports, sections and imports of kestrel.dll"
    VERBATIM)
  add_custom_target(kestrel_addin_check ALL DEPENDS ${KESTREL_DLL_STAMP})
endif()
