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
#                  [NATIVE_ONLY [<patterns...>]])
# One GoogleTest executable whose cases CTest discovers one by one. On the
# Windows build the executable (and its discovery) runs through the Wine
# runner given as the cross-compiling emulator. PROPERTIES are further test
# properties of every discovered case (RESOURCE_LOCK, for instance).
#
# NATIVE_ONLY names cases (GoogleTest patterns: Suite.* or Suite.Case) that
# run in the native builds (host, tsan) and not under Wine: arithmetic and
# bookkeeping of the portable core (minute stamps, identifier bounds, record
# headers, text parsing, lists of owned objects), whose answers cannot
# differ on Windows, while each case there costs a process start under
# Wine. The platform services such a case passes through on its way (a
# holder's lock, say) are tested under Wine by the cases that are about
# them. A case about the platform layer (locks, threads, streams, windows)
# or about anything that differs on Windows (a code page, non-ASCII text,
# the size of wchar_t, the C runtime's own parsing) stays in the Windows
# run. NATIVE_ONLY without patterns makes the whole executable native only:
# the Windows build neither builds nor runs it.
function(monitor_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;ENVIRONMENT;PROPERTIES;NATIVE_ONLY" ${ARGN})
  if(WIN32 AND "NATIVE_ONLY" IN_LIST T_KEYWORDS_MISSING_VALUES)
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
  set(filter "")
  if(WIN32 AND T_NATIVE_ONLY)
    list(JOIN T_NATIVE_ONLY ":" native_only)
    set(filter TEST_FILTER "-${native_only}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 120
    DISCOVERY_MODE PRE_TEST
    ${filter}
    PROPERTIES ${props})
endfunction()
