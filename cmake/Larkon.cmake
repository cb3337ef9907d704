# Naming and build rules shared by every target of the suite.
#
# All deliverables of both bitnesses land in one folder (LK_OUT_DIR), because the
# 32-bit main program looks for its 64-bit twin beside itself. So every 64-bit file
# needs a name of its own: a library whose 32-bit name ends in "86" takes "64" in
# its place (quarl86 -> quarl64), every other name gets "64" appended
# (kinetra -> kinetra64, heapgauge -> heapgauge64, tests too).

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(LK_BITS 64)
  set(LK_TREE win64)
else()
  set(LK_BITS 32)
  set(LK_TREE win32)
endif()

function(lk_output_name base out)
  if(LK_BITS EQUAL 64)
    if(base MATCHES "86$")
      string(REGEX REPLACE "86$" "64" name "${base}")
    else()
      string(TOLOWER "${base}64" name)
    endif()
  else()
    set(name "${base}")
  endif()
  set(${out} "${name}" PARENT_SCOPE)
endfunction()

set(LK_WARNINGS -Wall -Wextra)
# dbghelp under Wine reads DWARF 4 only; release builds keep these symbols too.
set(LK_CXX_FLAGS -gdwarf-4 -O2)
set(LK_DEFS UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0600 WINVER=0x0600)
# No MinGW runtime DLL must be needed beside the programs.
set(LK_LINK_FLAGS -static -municode)

function(lk_common target)
  target_compile_options(${target} PRIVATE ${LK_WARNINGS} ${LK_CXX_FLAGS})
  target_compile_definitions(${target} PRIVATE ${LK_DEFS})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_options(${target} PRIVATE ${LK_LINK_FLAGS})
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${LK_OUT_DIR}
    PREFIX "")
endfunction()

# lk_library(<target> <32-bit file base name> SOURCES ... [LIBS ...])
function(lk_library target base)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${target} SHARED ${A_SOURCES})
  lk_common(${target})
  lk_output_name(${base} name)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name} IMPORT_PREFIX "lib")
  target_link_libraries(${target} PRIVATE ${A_LIBS})
endfunction()

# lk_program(<target> <32-bit file base name> [GUI] SOURCES ... [LIBS ...])
function(lk_program target base)
  cmake_parse_arguments(A "GUI" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${A_SOURCES})
  lk_common(${target})
  lk_output_name(${base} name)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name})
  if(A_GUI)
    target_link_options(${target} PRIVATE -mwindows)
  endif()
  target_link_libraries(${target} PRIVATE ${A_LIBS})
endfunction()

# lk_test(<name> SOURCES ... [LIBS ...]): one GoogleTest executable, run once by ctest.
function(lk_test name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  set(target test_${name})
  add_executable(${target} ${A_SOURCES})
  lk_common(${target})
  lk_output_name(${name}_tests exe)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${exe})
  target_link_libraries(${target} PRIVATE lk_testmain gtest ${A_LIBS})
  add_test(NAME ${LK_TREE}.${name} COMMAND ${target} WORKING_DIRECTORY ${LK_OUT_DIR})
  set_tests_properties(${LK_TREE}.${name} PROPERTIES TIMEOUT 900)
endfunction()
