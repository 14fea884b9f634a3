# What the shared library exports on ELF platforms, generated from the public
# headers so that the list has one home: every class and free function
# declared PDA_API there, and the stand-in's pda-prefixed C functions.
# Everything else, including the standard library's templates that the
# library instantiates (which would otherwise be exported weak), stays local.
# tests/install/exports_test.sh checks the result with nm -D.
file(GLOB pda_public_headers ${PROJECT_SOURCE_DIR}/include/pda/*.h)
set(pda_export_lines "")
foreach(header ${pda_public_headers})
  file(STRINGS ${header} declarations REGEX "(class|struct) PDA_API [A-Za-z_]+|^PDA_API [^(]*[ *][a-z][A-Za-z_]*\\(")
  foreach(line ${declarations})
    if(line MATCHES "(class|struct) PDA_API ([A-Za-z_]+)")
      set(name ${CMAKE_MATCH_2})
      string(APPEND pda_export_lines
        "      ${name}::*;\n"
        "      \"typeinfo for ${name}\";\n"
        "      \"typeinfo name for ${name}\";\n"
        "      \"vtable for ${name}\";\n")
    elseif(line MATCHES "^PDA_API [^(]*[ *]([a-z][A-Za-z_]*)\\(")
      # A C++ function; the C functions (pda...) are matched below.
      set(name ${CMAKE_MATCH_1})
      if(NOT name MATCHES "^pda")
        string(APPEND pda_export_lines "      ${name}*;\n")
      endif()
    endif()
  endforeach()
endforeach()
set(PDA_EXPORT_MAP ${PROJECT_BINARY_DIR}/generated/PersistedDataAccess.map)
file(CONFIGURE OUTPUT ${PDA_EXPORT_MAP} CONTENT "{
  global:
    extern \"C++\" {
${pda_export_lines}    };
    pda*;
  local:
    *;
};
")
