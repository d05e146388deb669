# What `cmake --install` puts where, and the Debian package that
# scripts/package makes with CPack from the native build.
#
#   native:  bin/qzpack, share/qzpack/installer.exe (from the sibling Windows
#            build), share/doc/qzpack/{README.md,copyright,changelog.gz},
#            share/man/man1/qzpack.1.gz
#   windows: bin/qzpack.exe, share/qzpack/installer.exe, share/doc/qzpack/...

set(QZ_INSTALL_BINDIR bin)
set(QZ_INSTALL_STUBDIR share/qzpack)
set(QZ_INSTALL_DOCDIR share/doc/qzpack)

# qzpack looks for the stub of its own installation relative to itself, so a
# package unpacked anywhere works; the path is derived from the two folders
# above rather than written again in the source.
file(RELATIVE_PATH qz_stub_from_bin /${QZ_INSTALL_BINDIR} /${QZ_INSTALL_STUBDIR})
target_compile_definitions(qzpacker PRIVATE QZ_STUB_DIR_FROM_BIN="${qz_stub_from_bin}")

install(TARGETS qzpack RUNTIME DESTINATION ${QZ_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/copyright DESTINATION ${QZ_INSTALL_DOCDIR})

if(WIN32)
  install(TARGETS installer RUNTIME DESTINATION ${QZ_INSTALL_STUBDIR})
  return()
endif()

# The manual page and the changelog that Debian's policy asks of a package
# with a tool in /usr/bin, made when installing.
set(QZ_DEBIAN_DOCS ${CMAKE_BINARY_DIR}/debian-docs)
install(CODE "execute_process(COMMAND ${PROJECT_SOURCE_DIR}/cmake/debian-docs.sh $<TARGET_FILE:qzpack>
  ${PROJECT_VERSION} ${PROJECT_SOURCE_DIR}/docs/changelog ${QZ_DEBIAN_DOCS} COMMAND_ERROR_IS_FATAL ANY)")
install(FILES ${QZ_DEBIAN_DOCS}/qzpack.1.gz DESTINATION share/man/man1)
install(FILES ${QZ_DEBIAN_DOCS}/changelog.gz DESTINATION ${QZ_INSTALL_DOCDIR})

# The native build makes no installer: it installs the one of the Windows
# build beside it. Optional, so that a native-only install still works;
# scripts/package refuses a package without it.
set(QZ_INSTALL_STUB ${CMAKE_BINARY_DIR}/../windows/app/installer.exe CACHE FILEPATH
  "The installer stub the native install puts in share/qzpack")
install(FILES ${QZ_INSTALL_STUB} DESTINATION ${QZ_INSTALL_STUBDIR} OPTIONAL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qzpack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "qz installer maintainers <maintainers@users.noreply.c-seed-81532d9a.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "builds small self-extracting installers for 32-bit Windows
qzpack compresses four files into the installer's block format and appends
them to the installer stub, which it ships in /usr/share/qzpack. It also
lists, verifies and unpacks finished installers.")
include(CPack)
