# GoogleTest for both builds, and one CTest test per test executable: every
# Wine start costs seconds, so cases are not registered one by one.

if(WIN32)
  # Debian's googletest sources, built with the cross toolchain.
  set(QZ_GTEST_SOURCE /usr/src/googletest/googletest)
  if(NOT EXISTS ${QZ_GTEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found at ${QZ_GTEST_SOURCE}: run scripts/setup")
  endif()
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QZ_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_library(QzGTest INTERFACE)
  target_link_libraries(QzGTest INTERFACE gtest_main gtest)

  # Every Windows program of the build runs under Wine in a prefix kept
  # inside the build folder (scripts/lib/wine-env.sh).
  configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
    @ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
  # A 64-bit build runs under Debian's 64-bit Wine loader, which is not on
  # the PATH: the build keeps a "wine" of its own that starts it
  # (scripts/lib/wine-env.sh puts it first on the PATH).
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    file(WRITE ${CMAKE_BINARY_DIR}/wine-arch "win64\n")
    # A script, not a link: the loader finds its helpers by the name it was
    # started under.
    file(WRITE ${CMAKE_BINARY_DIR}/wine-bin/wine "#!/bin/sh\nexec /usr/lib/wine/wine64 \"$@\"\n")
    file(CHMOD ${CMAKE_BINARY_DIR}/wine-bin/wine PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  else()
    file(WRITE ${CMAKE_BINARY_DIR}/wine-arch "win32\n")
  endif()
else()
  find_package(GTest REQUIRED)
  add_library(QzGTest INTERFACE)
  target_link_libraries(QzGTest INTERFACE GTest::gtest_main GTest::gtest)
endif()

# qz_add_test(NAME SOURCES... [LIBRARIES ...]): one test executable, one CTest test.
function(qz_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE QzGTest ${ARG_LIBRARIES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(WIN32)
    # Static, or Wine cannot find libstdc++ and friends.
    target_link_options(${name} PRIVATE -static)
  endif()
  add_test(NAME ${name} COMMAND ${name})
endfunction()
