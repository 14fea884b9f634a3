# Install rules: the library with its version and soname, the headers, the
# pda tool (tools/pda), a CMake package, a pkg-config file and a Debian package.
#
#   cmake --build build/default
#   cmake --install build/default --prefix /opt/pda
#   cpack -G DEB --config build/default/CPackConfig.cmake -B build/packages
#
# Installing and packaging take what the build made: `make install` and cpack
# do not rebuild the whole tree (every test program included) first.
include(CMakePackageConfigHelpers)

set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(PDA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/PersistedDataAccess)

# A path below the installation prefix, for files computed relative to
# others; an absolute install directory is kept as it is.
function(pda_relative_to_prefix out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

install(TARGETS PersistedDataAccess EXPORT PersistedDataAccessTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The umbrella header and its parts; the version header is generated.
install(FILES include/PersistedDataAccess.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/pda/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pda
  FILES_MATCHING PATTERN "*.h")
install(FILES ${PROJECT_BINARY_DIR}/generated/pda/Version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pda)

# The installed tool finds the installed library beside it wherever the tree
# is put (the build tree's own run path is dropped on installation).
if(TARGET pda AND NOT WIN32)
  if(NOT IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}" AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    file(RELATIVE_PATH PDA_BIN_TO_LIB "/prefix/${CMAKE_INSTALL_BINDIR}"
      "/prefix/${CMAKE_INSTALL_LIBDIR}")
    set_property(TARGET pda PROPERTY INSTALL_RPATH "\$ORIGIN/${PDA_BIN_TO_LIB}")
  else()
    set_property(TARGET pda PROPERTY INSTALL_RPATH "${CMAKE_INSTALL_FULL_LIBDIR}")
  endif()
endif()

install(EXPORT PersistedDataAccessTargets
  NAMESPACE PersistedDataAccess::
  DESTINATION ${PDA_CMAKE_DIR})
configure_package_config_file(cmake/PersistedDataAccessConfig.cmake.in
  ${PROJECT_BINARY_DIR}/PersistedDataAccessConfig.cmake
  INSTALL_DESTINATION ${PDA_CMAKE_DIR})
# Within one major version the interface only grows.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/PersistedDataAccessConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/PersistedDataAccessConfig.cmake
  ${PROJECT_BINARY_DIR}/PersistedDataAccessConfigVersion.cmake
  DESTINATION ${PDA_CMAKE_DIR})

if(NOT WIN32)
  # The prefix is found relative to the .pc file, so the tree can be moved.
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(PDA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  else()
    file(RELATIVE_PATH PDA_PC_PREFIX_REL "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
    string(REGEX REPLACE "/$" "" PDA_PC_PREFIX_REL "${PDA_PC_PREFIX_REL}")
    set(PDA_PC_PREFIX "\${pcfiledir}/${PDA_PC_PREFIX_REL}")
  endif()
  pda_relative_to_prefix(PDA_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
  pda_relative_to_prefix(PDA_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
  string(REPLACE ";" " -l" PDA_PC_PRIVATE_LIBS "-l${CMAKE_DL_LIBS}")
  configure_file(cmake/PersistedDataAccess.pc.in ${PROJECT_BINARY_DIR}/PersistedDataAccess.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/PersistedDataAccess.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

  # An installation keeps the SQLite library where the suite expects it,
  # <BaseDir>bin/SQLite.Interop.dll: a link to the system's libsqlite3. The
  # suite's base directory of an installation is <libdir>/persisted-data-access/.
  set(PDA_SUITE_BASE_DIR ${CMAKE_INSTALL_LIBDIR}/persisted-data-access)
  if(PDA_SQLITE_RUNTIME_LIBRARY)
    if(IS_ABSOLUTE "${PDA_SUITE_BASE_DIR}")
      set(PDA_SUITE_BIN_DIR "\$ENV{DESTDIR}${PDA_SUITE_BASE_DIR}/bin")
    else()
      set(PDA_SUITE_BIN_DIR "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${PDA_SUITE_BASE_DIR}/bin")
    endif()
    install(CODE "
      set(dest \"${PDA_SUITE_BIN_DIR}\")
      message(STATUS \"Linking: \${dest}/SQLite.Interop.dll -> ${PDA_SQLITE_RUNTIME_LIBRARY}\")
      file(MAKE_DIRECTORY \"\${dest}\")
      file(CREATE_LINK \"${PDA_SQLITE_RUNTIME_LIBRARY}\" \"\${dest}/SQLite.Interop.dll\"
        RESULT linkResult SYMBOLIC)
      if(NOT linkResult STREQUAL \"0\")
        message(FATAL_ERROR \"cannot link \${dest}/SQLite.Interop.dll: \${linkResult}\")
      endif()")
  else()
    message(WARNING "libsqlite3.so.0 not found: installations get no bin/SQLite.Interop.dll "
      "(install the Debian package libsqlite3-0)")
  endif()
endif()

set(CPACK_PACKAGE_NAME persisted-data-access)
set(CPACK_PACKAGE_VENDOR "PersistedDataAccess developers")
set(CPACK_PACKAGE_CONTACT "PersistedDataAccess developers <dev@pda.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Persisted settings and instrument configuration of the Quillon I/O suite")
set(CPACK_PACKAGE_DESCRIPTION
  "The library through which the programs of the Quillon instrument I/O suite read and write
their persisted settings, from the registry, an SQLite database or built-in defaults,
with its headers, CMake package, pkg-config file and the pda command-line tool.")
set(CPACK_PACKAGE_VERSION ${PDA_VERSION_STRING})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# SQLite is loaded at run time by path, never linked, so no tool can find
# this dependency: it is named here. The linked libraries (C and C++
# run-times) are found by dpkg-shlibdeps where the machine has it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsqlite3-0")
find_program(PDA_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(PDA_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
endif()
# A shlibs file and the ldconfig trigger for the shared library.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
include(CPack)
