# Installation checks: the build installed into a temporary prefix and used
# by a consumer program through the CMake package and through pkg-config,
# and the Debian package that cpack makes. Both run on the finished build,
# on Linux only (a cross build cannot run its consumer).
if(WIN32 OR CMAKE_CROSSCOMPILING)
  return()
endif()

find_program(PDA_BASH bash REQUIRED)
if(TARGET pda)
  set(pda_with_tool 1)
else()
  set(pda_with_tool 0)
endif()
# The consumer is built with the flags of this build, so that a sanitizer
# build links the sanitizer run-time its library needs.
string(TOUPPER "${CMAKE_BUILD_TYPE}" pda_build_type)
set(pda_consumer_flags "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${pda_build_type}}")

add_test(NAME install.consumer
  COMMAND ${PDA_BASH} ${CMAKE_CURRENT_LIST_DIR}/install/consumer_test.sh
    ${PROJECT_BINARY_DIR} ${PDA_VERSION_STRING} ${CMAKE_CXX_COMPILER}
    "${pda_consumer_flags}" "${CMAKE_EXE_LINKER_FLAGS}" ${pda_with_tool})
add_test(NAME install.debian_package
  COMMAND ${PDA_BASH} ${CMAKE_CURRENT_LIST_DIR}/install/debian_package_test.sh
    ${PROJECT_BINARY_DIR} ${PDA_VERSION_STRING} ${pda_with_tool})
# Both install from the build tree (cmake --install, cpack), which writes its
# manifest there: one at a time.
set_tests_properties(install.consumer install.debian_package PROPERTIES
  LABELS install TIMEOUT 300 RESOURCE_LOCK pda_build_tree)

# What the shared library exports, read with nm -D from the built library.
add_test(NAME install.exports
  COMMAND ${PDA_BASH} ${CMAKE_CURRENT_LIST_DIR}/install/exports_test.sh
    $<TARGET_FILE:PersistedDataAccess> ${PROJECT_SOURCE_DIR}/include)
set_tests_properties(install.exports PROPERTIES LABELS install TIMEOUT 60)
