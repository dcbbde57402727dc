# Checks a built kestrel.dll (cmake -P). Inputs: DLL, OBJDUMP, POINTER_SIZE,
# STAMP. Writes STAMP when every check passes, otherwise fails the build and
# deletes STAMP.
#
#  - the export table holds exactly one name, AAPI_Addin, and it lies in a
#    data section (it is the add-in object, not a function);
#  - one section carries the SHARED flag: the block all processes share;
#  - no import from a compiler run-time DLL (libstdc++, libgcc, winpthread);
#  - 32-bit only: interface operations use thiscall, so a member function
#    with stack arguments removes them itself ("ret $n", n = 4 per 32-bit
#    argument); the C default would leave them to the caller ("ret").
#    Stdcall would pass this test too; that GCC passes `this` in ecx on
#    32-bit mingw is its documented default and not re-checked here.

cmake_minimum_required(VERSION 3.25)
file(REMOVE ${STAMP})
set(failures "")

function(objdump out)
  execute_process(COMMAND ${OBJDUMP} ${ARGN} ${DLL}
    OUTPUT_VARIABLE text ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} ${ARGN} failed: ${err}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

objdump(headers -p)
objdump(sections -h)

# --- exports ------------------------------------------------------------------
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[^\n]*\n)*)" _ "${headers}")
set(name_table "${CMAKE_MATCH_1}")
# "\t[   0] NAME" lines; brackets would confuse CMake lists, drop them first.
string(REGEX REPLACE "[ \t]*\\[[ 0-9]*\\][ \t]+([^\n]*)\n" "\\1;" names "${name_table}")
list(REMOVE_ITEM names "")
if(NOT names STREQUAL "AAPI_Addin")
  string(REPLACE ";" ", " names "${names}")
  string(APPEND failures "\n  exports must be exactly AAPI_Addin, found: '${names}'")
endif()

string(REGEX MATCH "ImageBase[ \t]+([0-9a-fA-F]+)" _ "${headers}")
set(image_base "0x${CMAKE_MATCH_1}")
string(REGEX MATCH "\\+base\\[[ \t]*1\\][ \t]+([0-9a-fA-F]+)[ \t]+Export RVA" _ "${headers}")
if(NOT CMAKE_MATCH_1)
  string(APPEND failures "\n  no export address found")
else()
  math(EXPR export_va "${image_base} + 0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
endif()

# --- sections: the shared one, and the one holding the export -----------------
# objdump -h: "  n name size vma lma offset align\n   FLAGS, ..."
string(REGEX MATCHALL "[ \t]+[0-9]+[ \t]+[^ \t\n]+[ \t]+[0-9a-f]+[ \t]+[0-9a-f]+[ \t]+[0-9a-f]+[ \t]+[0-9a-f]+[ \t]+2\\*\\*[0-9]+\n[^\n]*"
  section_entries "${sections}")
set(shared_sections "")
set(export_section "")
foreach(entry IN LISTS section_entries)
  string(REGEX MATCH "[0-9]+[ \t]+([^ \t\n]+)[ \t]+([0-9a-f]+)[ \t]+([0-9a-f]+)" _ "${entry}")
  set(name "${CMAKE_MATCH_1}")
  set(size "0x${CMAKE_MATCH_2}")
  set(vma "0x${CMAKE_MATCH_3}")
  if(entry MATCHES "SHARED")
    list(APPEND shared_sections ${name})
  endif()
  if(DEFINED export_va)
    math(EXPR end "${vma} + ${size}")
    if(export_va GREATER_EQUAL vma AND export_va LESS end)
      set(export_section "${name}")
      set(export_flags "${entry}")
    endif()
  endif()
endforeach()
if(NOT shared_sections)
  string(APPEND failures "\n  no section has the SHARED flag")
endif()
if(DEFINED export_va)
  if(NOT export_section)
    string(APPEND failures "\n  the export address ${export_va} lies in no section")
  elseif(export_flags MATCHES "CODE")
    string(APPEND failures "\n  AAPI_Addin lies in ${export_section}, a code section")
  endif()
endif()

# --- imports --------------------------------------------------------------------
string(REGEX MATCHALL "DLL Name: [^\n]+" entries "${headers}")
set(imports "")
foreach(entry IN LISTS entries)
  string(REPLACE "DLL Name: " "" dll "${entry}")
  list(APPEND imports "${dll}")
  if(dll MATCHES "^(libstdc|libgcc|libwinpthread)")
    string(APPEND failures "\n  imports the compiler run-time DLL ${dll}")
  endif()
endforeach()

# --- 32-bit calling convention -------------------------------------------------
if(POINTER_SIZE EQUAL 4)
  # Slot operations with a known number of 32-bit stack arguments.
  set(members
    "__ZN10LocalAddin13SetDebugLevelEi=0x4"
    "__ZN10LocalAddin16GetDetectorCountEi=0x4"
    "__ZN10LocalAddin11GetFeaturesEiiPji=0x10"
    "__ZN7Kestrel15IsValidDetectorEii=0x8")
  foreach(member IN LISTS members)
    string(REPLACE "=" ";" parts "${member}")
    list(GET parts 0 symbol)
    list(GET parts 1 pops)
    objdump(code -d --no-show-raw-insn --disassemble=${symbol})
    string(REGEX MATCHALL "\tret[ \t]*[^\n]*" returns "${code}")
    if(NOT returns)
      string(APPEND failures "\n  ${symbol}: not found or no return in its disassembly")
    endif()
    foreach(ret IN LISTS returns)
      if(NOT ret MATCHES "ret[ \t]+\\$${pops}$")
        string(APPEND failures "\n  ${symbol}: '${ret}' where thiscall returns with 'ret $${pops}'")
      endif()
    endforeach()
  endforeach()
endif()

if(failures)
  message(FATAL_ERROR "kestrel.dll (${DLL}) fails its checks:${failures}")
endif()
file(WRITE ${STAMP} "exports: ${names}\nshared: ${shared_sections}\nimports: ${imports}\n")
message(STATUS "kestrel.dll: exports ${names} (in ${export_section}), shared ${shared_sections}, imports ${imports}")
