# Install rules: the library with its version and soname, the headers, the
# pda tool (tools/pda), a CMake package, a pkg-config file and Debian packages.
#
#   cmake --build build/default
#   cmake --install build/default --prefix /opt/pda
#   cpack -G DEB --config build/default/CPackConfig.cmake -B build/packages
#
# Three components, one Debian package each, as Debian ships a library:
#   Runtime      the shared library (soname link included) and the suite's
#                SQLite link: libpersisteddataaccess<soversion>
#   Development  headers, the unversioned link, CMake package, pkg-config
#                file: libpersisteddataaccess-dev
#   tool         whatever tools/pda installs under it (the tool, its man page,
#                its bash completion): persisted-data-access-tools
# Each package carries the copyright file and the changelog.
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
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The umbrella header and its parts; the version header is generated.
install(FILES include/PersistedDataAccess.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT Development)
install(DIRECTORY include/pda/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pda
  COMPONENT Development FILES_MATCHING PATTERN "*.h")
install(FILES ${PROJECT_BINARY_DIR}/generated/pda/Version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pda COMPONENT Development)

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
  # Installed below /usr or /usr/local (a Debian package is built so), the
  # library is on the system's search path and the tool carries no run path.
  install(CODE "
    if(CMAKE_INSTALL_PREFIX MATCHES \"(^|/)usr(/local)?/?$\")
      file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/pda\")
    endif()" COMPONENT tool)
endif()

install(EXPORT PersistedDataAccessTargets
  NAMESPACE PersistedDataAccess::
  DESTINATION ${PDA_CMAKE_DIR} COMPONENT Development)
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
  DESTINATION ${PDA_CMAKE_DIR} COMPONENT Development)

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
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)

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
      endif()" COMPONENT Runtime)
  else()
    message(WARNING "libsqlite3.so.0 not found: installations get no bin/SQLite.Interop.dll "
      "(install the Debian package libsqlite3-0)")
  endif()
endif()

# The Debian packages.
set(PDA_DEB_RUNTIME_PACKAGE libpersisteddataaccess${PROJECT_VERSION_MAJOR})
set(PDA_DEB_DEV_PACKAGE libpersisteddataaccess-dev)
set(PDA_DEB_TOOL_PACKAGE persisted-data-access-tools)
if(NOT WIN32)
  # The copyright file and the changelog (compressed, without a time stamp
  # so that two builds give the same bytes) in each package's documentation.
  set(pda_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
  execute_process(COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
    OUTPUT_FILE ${pda_changelog} RESULT_VARIABLE pda_gzip_result)
  if(NOT pda_gzip_result EQUAL 0)
    message(FATAL_ERROR "gzip of packaging/debian/changelog failed: ${pda_gzip_result}")
  endif()
  foreach(pair "Runtime;${PDA_DEB_RUNTIME_PACKAGE}" "Development;${PDA_DEB_DEV_PACKAGE}"
               "tool;${PDA_DEB_TOOL_PACKAGE}")
    list(GET pair 0 component)
    list(GET pair 1 package)
    if(component STREQUAL "tool" AND NOT TARGET pda)
      continue()
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${pda_changelog}
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endforeach()
endif()

set(CPACK_PACKAGE_NAME persisted-data-access)
set(CPACK_PACKAGE_VENDOR "PersistedDataAccess developers")
set(CPACK_PACKAGE_CONTACT "PersistedDataAccess developers <dev@pda.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Persisted settings and instrument configuration of the Quillon I/O suite")
set(CPACK_PACKAGE_VERSION ${PDA_VERSION_STRING})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development)
if(TARGET pda)
  list(APPEND CPACK_COMPONENTS_ALL tool)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${PDA_DEB_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "persisted settings of the Quillon I/O suite (shared library)
The library through which the programs of the Quillon instrument I/O suite
read and write their persisted settings and instrument configuration, from
the registry, an SQLite database or built-in defaults. SQLite is loaded at run
time from the suite's base directory; the package links it there.")
# SQLite is loaded at run time by path, never linked, so no tool can find
# this dependency: it is named here. The linked libraries (C and C++
# run-times) are found by dpkg-shlibdeps where the machine has it.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libsqlite3-0")
# The system's ldconfig trigger, which Debian asks of a package that ships a
# shared library (the maintainer scripts calling ldconfig are the old way).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${PDA_DEB_DEV_PACKAGE})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "${PDA_DEB_RUNTIME_PACKAGE} (= ${PDA_VERSION_STRING})")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "persisted settings of the Quillon I/O suite (development files)
Headers, the CMake package (find_package(PersistedDataAccess)) and the
pkg-config file for programs that use the PersistedDataAccess library.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ${PDA_DEB_TOOL_PACKAGE})
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${PDA_DEB_RUNTIME_PACKAGE} (= ${PDA_VERSION_STRING})")
set(CPACK_COMPONENT_TOOL_DESCRIPTION
  "persisted settings of the Quillon I/O suite (pda tool)
pda reads and changes the suite's persisted settings through the library's
own records, on any store, and lays out an installed suite (pda init).")

find_program(PDA_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(PDA_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The tool links the library of its sibling package: dpkg-shlibdeps reads
  # the library in the build tree (its package is named in Depends above).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
endif()
# A shlibs file and the ldconfig trigger for the shared library.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
include(CPack)
