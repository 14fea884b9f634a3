# Runs one example program on a fresh emulated machine and compares its
# standard output with the expected text.
#   -DPROGRAM=<example>  -DROOT=<machine directory, emptied first>
#   -DEXPECTED=<file>    -DPDA_TOOL=<pda>: `pda init` installs the suite first
#   -DUPDATE=ON          write the output to EXPECTED instead of comparing
foreach(var PROGRAM ROOT EXPECTED)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "RunExample.cmake needs -D${var}=...")
  endif()
endforeach()

file(REMOVE_RECURSE "${ROOT}")
file(MAKE_DIRECTORY "${ROOT}")
set(ENV{PDA_ROOT} "${ROOT}")

if(PDA_TOOL)
  execute_process(COMMAND "${PDA_TOOL}" init RESULT_VARIABLE result OUTPUT_VARIABLE out
    ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "pda init failed (${result}):\n${out}")
  endif()
endif()

execute_process(COMMAND "${PROGRAM}" RESULT_VARIABLE result OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
string(REPLACE "${ROOT}" "$PDA_ROOT" out "${out}")
message("${out}")
if(err)
  message("standard error:\n${err}")
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with ${result}")
endif()

if(UPDATE)
  file(WRITE "${EXPECTED}" "${out}")
  message(STATUS "wrote ${EXPECTED}")
else()
  file(READ "${EXPECTED}" expected)
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "the output differs from ${EXPECTED}; expected:\n${expected}")
  endif()
endif()
file(REMOVE_RECURSE "${ROOT}")
