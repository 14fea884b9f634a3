# Install rules: the library with its version and soname, the headers, the
# pda tool (tools/pda), a CMake package, a pkg-config file and a Debian package.
include(CMakePackageConfigHelpers)

set(PDA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/PersistedDataAccess)

install(TARGETS PersistedDataAccess EXPORT PersistedDataAccessTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(FILES ${PROJECT_BINARY_DIR}/generated/pda/Version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pda)

install(EXPORT PersistedDataAccessTargets
  NAMESPACE PersistedDataAccess::
  DESTINATION ${PDA_CMAKE_DIR})
configure_package_config_file(cmake/PersistedDataAccessConfig.cmake.in
  ${PROJECT_BINARY_DIR}/PersistedDataAccessConfig.cmake
  INSTALL_DESTINATION ${PDA_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/PersistedDataAccessConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/PersistedDataAccessConfig.cmake
  ${PROJECT_BINARY_DIR}/PersistedDataAccessConfigVersion.cmake
  DESTINATION ${PDA_CMAKE_DIR})

if(NOT WIN32)
  # The prefix is found relative to the .pc file, so the tree can be moved.
  file(RELATIVE_PATH PDA_PC_PREFIX_REL "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
  string(REGEX REPLACE "/$" "" PDA_PC_PREFIX_REL "${PDA_PC_PREFIX_REL}")
  configure_file(cmake/PersistedDataAccess.pc.in ${PROJECT_BINARY_DIR}/PersistedDataAccess.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/PersistedDataAccess.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

  # An installation keeps the SQLite library where the suite expects it,
  # <BaseDir>bin/SQLite.Interop.dll: a link to the system's libsqlite3.
  if(PDA_SQLITE_RUNTIME_LIBRARY)
    set(PDA_SUITE_BASE_DIR ${CMAKE_INSTALL_LIBDIR}/persisted-data-access)
    install(CODE "
      set(dest \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${PDA_SUITE_BASE_DIR}/bin\")
      file(MAKE_DIRECTORY \"\${dest}\")
      file(CREATE_LINK \"${PDA_SQLITE_RUNTIME_LIBRARY}\" \"\${dest}/SQLite.Interop.dll\" SYMBOLIC)")
  endif()
endif()

set(CPACK_PACKAGE_NAME persisted-data-access)
set(CPACK_PACKAGE_VENDOR "PersistedDataAccess developers")
set(CPACK_PACKAGE_CONTACT "PersistedDataAccess developers <dev@pda.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Persisted settings and instrument configuration of the Quillon I/O suite")
set(CPACK_PACKAGE_VERSION ${PDA_VERSION_STRING})
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsqlite3-0")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
include(CPack)
