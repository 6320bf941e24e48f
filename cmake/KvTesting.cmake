# The test framework, the wine session the Windows test programs run in, and kv_add_gtest.
include_guard(GLOBAL)
include(GoogleTest)

# GoogleTest: built with the project from its sources (Debian's googletest package puts them in
# /usr/src/googletest), or an installed package when the folder is empty or absent.
set(KV_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH
  "GoogleTest sources built with the project; empty or missing: find_package(GTest)")
if(KV_GOOGLETEST_SOURCE_DIR AND EXISTS "${KV_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
  # The Microsoft compiler's default runtime is the DLL one; GoogleTest's own default differs.
  set(gtest_force_shared_crt ON CACHE BOOL "")
  set(INSTALL_GTEST OFF CACHE BOOL "")
  add_subdirectory(${KV_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()

# Cross built and run through the emulator (wine): every case needs the build tree's wine session,
# a CTest fixture started once before the first case of a run and stopped after the last, also
# when only some cases run. A build that is not cross-compiled (Visual Studio, or mingw on Windows)
# runs its test programs directly and has neither wine, bash nor the Linux signing tools: the
# steps that need them are left out of its test run (kv_add_gtest's WINE_ONLY, kv_add_script_test).
set(KV_TEST_FIXTURES "")
set(KV_TESTS_UNDER_WINE OFF)
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR AND WIN32 AND CMAKE_HOST_UNIX)
  set(KV_TESTS_UNDER_WINE ON)
  set(KV_TEST_FIXTURES kv_wine_session)
  get_filename_component(kv_winesession ${CMAKE_CURRENT_LIST_DIR}/../scripts/winesession ABSOLUTE)
  add_test(NAME wine_session_start COMMAND ${kv_winesession} start ${CMAKE_BINARY_DIR})
  add_test(NAME wine_session_stop COMMAND ${kv_winesession} stop ${CMAKE_BINARY_DIR})
  # A new prefix takes a while to prepare on a busy machine.
  set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP kv_wine_session TIMEOUT 600)
  set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP kv_wine_session TIMEOUT 120)
endif()

# kv_add_gtest(NAME [WINE_ONLY] SOURCES... [LIBS libs...] [LOCKS names...] [PROPERTIES prop value ...])
# A GoogleTest program whose cases CTest discovers when the tests run (under wine when cross
# building), so that building never starts wine. LOCKS names the machine-wide state the cases
# share (a registry key, the per-user update folder, the updater's single instance): CTest never
# runs two cases holding the same lock at once. PROPERTIES go to every discovered case.
# WINE_ONLY: the cases need what only the wine session gives (the build tree as drive Z:, wine's
# regsvr32, proxy settings from http_proxy, the prefix's network share, a fixture made by a
# script); elsewhere the program is built but not run.
function(kv_add_gtest name)
  cmake_parse_arguments(KV "WINE_ONLY" "" "SOURCES;LIBS;LOCKS;PROPERTIES" ${ARGN})
  add_executable(${name} ${KV_SOURCES} ${KV_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${KV_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(KV_WINE_ONLY AND NOT KV_TESTS_UNDER_WINE)
    return()
  endif()

  # Discovery properties cannot carry a list, so the list-valued ones (locks, fixtures) are set
  # once the cases are known, merged with those the caller gives.
  set(fixtures ${KV_TEST_FIXTURES})
  set(properties "")
  while(NOT "${KV_PROPERTIES}" STREQUAL "")
    list(POP_FRONT KV_PROPERTIES key value)
    if(key STREQUAL "FIXTURES_REQUIRED")
      list(APPEND fixtures ${value})
    elseif(key STREQUAL "RESOURCE_LOCK")
      list(APPEND KV_LOCKS ${value})
    else()
      list(APPEND properties ${key} ${value})
    endif()
  endwhile()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 240 ${properties})

  set(lists "")
  if(KV_LOCKS)
    string(APPEND lists " RESOURCE_LOCK \"${KV_LOCKS}\"")
  endif()
  if(fixtures)
    string(APPEND lists " FIXTURES_REQUIRED \"${fixtures}\"")
  endif()
  if(lists)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_lists.cmake)
    file(WRITE ${script} "foreach(t IN LISTS ${name}_TESTS)\n"
      "  set_tests_properties(\"\${t}\" PROPERTIES${lists})\n"
      "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  endif()
endfunction()

# kv_add_script_test(NAME [SESSION] COMMAND command args... [PROPERTIES prop value ...])
# A test step that runs bash, wine or a Linux tool (openssl, osslsigncode, Xvfb): in the cross
# build's test run only, so that a native Windows build holds no step it cannot run. SESSION: the
# step starts Windows programs, so it runs in the build tree's wine session.
function(kv_add_script_test name)
  cmake_parse_arguments(KV "SESSION" "" "COMMAND;PROPERTIES" ${ARGN})
  if(NOT KV_TESTS_UNDER_WINE)
    return()
  endif()
  add_test(NAME ${name} COMMAND ${KV_COMMAND})
  set(fixtures "")
  if(KV_SESSION)
    set(fixtures ${KV_TEST_FIXTURES})
  endif()
  while(NOT "${KV_PROPERTIES}" STREQUAL "")
    list(POP_FRONT KV_PROPERTIES key value)
    if(key STREQUAL "FIXTURES_REQUIRED")
      list(APPEND fixtures ${value})
    else()
      set_tests_properties(${name} PROPERTIES ${key} "${value}")
    endif()
  endwhile()
  if(fixtures)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${fixtures}")
  endif()
endfunction()
