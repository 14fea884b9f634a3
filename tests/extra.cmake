# Programs beyond the one-per-folder unit tests: the stress scenarios, and the
# replay of the fuzz targets' corpora through the targets built without
# libFuzzer.
add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/stress ${CMAKE_CURRENT_BINARY_DIR}/stress)
if(EXISTS ${PROJECT_SOURCE_DIR}/fuzz/CMakeLists.txt)
  add_subdirectory(${PROJECT_SOURCE_DIR}/fuzz ${PROJECT_BINARY_DIR}/fuzz)
endif()
