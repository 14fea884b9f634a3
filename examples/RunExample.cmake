# Runs one example program on a fresh emulated machine and compares its
# standard output with the expected text.
#   -DPROGRAM=<example>  -DROOT=<machine directory, emptied first>
#   -DEXPECTED=<file>
#   -DPDA_TOOL=<pda>     lay out an installed suite first (pda init
#                        --no-samples: empty databases)
#   -DCHECK_SQL=<file> -DSQLITE3=<sqlite3 client>: run the file's SQL on the
#                        database its first line names ("-- database: <path
#                        below the root>") after the example, output appended
#   -DUPDATE=ON, or PDA_UPDATE_EXPECTED=1 in the environment: write the output
#                        to EXPECTED instead of comparing
foreach(var PROGRAM ROOT EXPECTED)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "RunExample.cmake needs -D${var}=...")
  endif()
endforeach()

file(REMOVE_RECURSE "${ROOT}")
file(MAKE_DIRECTORY "${ROOT}")
set(ENV{PDA_ROOT} "${ROOT}")

if(PDA_TOOL)
  execute_process(COMMAND "${PDA_TOOL}" init --no-samples RESULT_VARIABLE result
    OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "pda init failed (${result}):\n${out}")
  endif()
endif()

execute_process(COMMAND "${PROGRAM}" RESULT_VARIABLE result OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
if(err)
  message("standard error:\n${err}")
endif()
if(NOT result EQUAL 0)
  message("${out}")
  message(FATAL_ERROR "${PROGRAM} exited with ${result}")
endif()

if(CHECK_SQL)
  file(STRINGS "${CHECK_SQL}" first LIMIT_COUNT 1)
  if(NOT first MATCHES "^-- database: (.+)$")
    message(FATAL_ERROR "${CHECK_SQL} does not start with '-- database: <path>'")
  endif()
  execute_process(COMMAND "${SQLITE3}" -bail "${ROOT}/${CMAKE_MATCH_1}"
    INPUT_FILE "${CHECK_SQL}" RESULT_VARIABLE result OUTPUT_VARIABLE rows ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "sqlite3 failed on ${CMAKE_MATCH_1} (${result}): ${err}")
  endif()
  string(APPEND out "${rows}")
endif()

string(REPLACE "${ROOT}" "$PDA_ROOT" out "${out}")
message("${out}")

if(UPDATE OR "$ENV{PDA_UPDATE_EXPECTED}")
  file(WRITE "${EXPECTED}" "${out}")
  message(STATUS "wrote ${EXPECTED}")
else()
  file(READ "${EXPECTED}" expected)
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "the output differs from ${EXPECTED}; expected:\n${expected}")
  endif()
endif()
file(REMOVE_RECURSE "${ROOT}")
