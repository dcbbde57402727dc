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
endif()
