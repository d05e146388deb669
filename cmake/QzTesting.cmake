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

  # One wineserver, started and warmed before the first Windows test and
  # stopped after the last, serves the whole suite: a cold start costs
  # seconds, and under emulation far more.
  add_test(NAME wine_server_start COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/wine-server.sh ${CMAKE_BINARY_DIR} start)
  add_test(NAME wine_server_stop COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/wine-server.sh ${CMAKE_BINARY_DIR} stop)
  set_tests_properties(wine_server_start PROPERTIES FIXTURES_SETUP wine_server)
  set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine_server)
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

# qz_wine_tests(): the tests of the calling folder use the shared wineserver.
# Called last in each folder of Windows tests: test properties can only be
# set from the folder that added the tests.
function(qz_wine_tests)
  get_property(tests DIRECTORY PROPERTY TESTS)
  if(WIN32 AND tests)
    set_tests_properties(${tests} PROPERTIES FIXTURES_REQUIRED wine_server)
  endif()
endfunction()
