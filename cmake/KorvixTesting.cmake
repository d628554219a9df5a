# GoogleTest from Debian's source package, built with whichever compiler this
# tree uses (native clang with sanitizers, or MinGW for the Windows tests).
include(GoogleTest)

set(KORVIX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")

macro(korvix_use_gtest)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${KORVIX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # Third-party warnings are not ours to fix.
    target_compile_options(gtest PRIVATE -w)
    target_compile_options(gtest_main PRIVATE -w)
  endif()
endmacro()

# Directory of the checked-in test data, spelled so that the test binary can
# open it: Windows binaries under Wine see the Unix root as drive Z:.
if(WIN32)
  set(KORVIX_TEST_DATA_DIR "Z:${CMAKE_SOURCE_DIR}/tests/data")
else()
  set(KORVIX_TEST_DATA_DIR "${CMAKE_SOURCE_DIR}/tests/data")
endif()

# korvix_test_properties(NAME [LOCKS name ...] [ENVIRONMENT K=V ...]) gives
# every test that gtest_discover_tests(NAME ...) discovers these resource locks
# and environment. gtest_discover_tests' own PROPERTIES cannot carry them: its
# discovery script re-reads the list unquoted, so an empty value vanishes
# (shifting the names and values behind it) and a list value splits apart.
# An include file that runs after the discovered tests exist sets them.
function(korvix_test_properties name)
  cmake_parse_arguments(P "" "" "LOCKS;ENVIRONMENT" ${ARGN})
  set(settings)
  if(P_LOCKS)
    string(APPEND settings " RESOURCE_LOCK \"${P_LOCKS}\"")
  endif()
  if(P_ENVIRONMENT)
    string(APPEND settings " ENVIRONMENT \"${P_ENVIRONMENT}\"")
  endif()
  if(settings)
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
    file(WRITE ${file}
         "foreach(test IN LISTS ${name}_TESTS)\n  set_tests_properties(\"\${test}\" PROPERTIES${settings})\nendforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
  endif()
endfunction()

# korvix_add_gtest(NAME SOURCES a.cpp ... LIBS lib ... [ENVIRONMENT K=V ...] [LOCKS name ...])
# LOCKS names ctest resource locks for tests that touch machine-wide state
# (registration, HKLM values): tests holding the same lock never overlap.
# One executable; every test case becomes one CTest test, discovered when
# ctest runs (discovery at build time would need Wine during the build).
function(korvix_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENVIRONMENT;LOCKS" ${ARGN})
  korvix_use_gtest()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main gtest)
  # EXPECT_* inside an unbraced if is fine with gtest's macros.
  target_compile_options(${name} PRIVATE -Wno-dangling-else)
  target_compile_definitions(${name} PRIVATE KORVIX_TEST_DATA_DIR="${KORVIX_TEST_DATA_DIR}")
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/testrun
    PROPERTIES TIMEOUT 120)
  korvix_test_properties(${name} LOCKS ${T_LOCKS} ENVIRONMENT ${T_ENVIRONMENT})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/testrun)
endfunction()
