# GoogleTest from Debian's sources, built with the same compiler and flags as
# the code under test.
include(CTest)
include(GoogleTest)

set(GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# monitor_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>]
#                  [ENVIRONMENT <VAR=value...>] [PROPERTIES <name value...>]
#                  [NATIVE_ONLY])
# One GoogleTest executable whose cases CTest discovers one by one. On the
# Windows build the executable (and its discovery) runs through the Wine
# runner given as the cross-compiling emulator. PROPERTIES are further test
# properties of every discovered case (RESOURCE_LOCK, for instance).
# NATIVE_ONLY: pure computation that the native builds already run; the
# Windows build neither builds nor runs it (Wine would add time, no insight).
function(monitor_add_test name)
  cmake_parse_arguments(T "NATIVE_ONLY" "" "SOURCES;LIBS;LABELS;ENVIRONMENT;PROPERTIES" ${ARGN})
  if(T_NATIVE_ONLY AND WIN32)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  set(props TIMEOUT 120)
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(T_ENVIRONMENT)
    list(APPEND props ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  if(T_PROPERTIES)
    list(APPEND props ${T_PROPERTIES})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 120
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ${props})
endfunction()
