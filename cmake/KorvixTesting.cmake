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
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/testrun)
  # List-valued properties do not survive the discovery script's argument
  # handling (only the first lock would remain), so they are set by a file of
  # our own that ctest reads after the discovered tests, from the list of test
  # names the discovery leaves in ${name}_TESTS.
  if(T_LOCKS OR T_ENVIRONMENT)
    set(props_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
    set(props)
    if(T_LOCKS)
      string(APPEND props " RESOURCE_LOCK [==[${T_LOCKS}]==]")
    endif()
    if(T_ENVIRONMENT)
      string(APPEND props " ENVIRONMENT [==[${T_ENVIRONMENT}]==]")
    endif()
    file(WRITE ${props_file}
      "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES${props})\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${props_file})
  endif()
endfunction()
