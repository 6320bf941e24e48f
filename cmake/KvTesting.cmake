include(GoogleTest)

# kv_add_gtest(NAME SOURCES... [LIBS libs...] [LOCKS names...] [PROPERTIES prop value ...])
# A GoogleTest program whose cases CTest discovers when the tests run (under wine when cross
# building), so that building never starts wine. LOCKS names the machine-wide state the cases
# share (a registry key, the per-user update folder, the updater's single instance): CTest never
# runs two cases holding the same lock at once. PROPERTIES go to every discovered case.
function(kv_add_gtest name)
  cmake_parse_arguments(KV "" "" "SOURCES;LIBS;LOCKS;PROPERTIES" ${ARGN})
  add_executable(${name} ${KV_SOURCES} ${KV_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${KV_LIBS} gtest gmock gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 240 ${KV_PROPERTIES})
  if(KV_LOCKS)
    # Discovery properties cannot carry a list, so the locks are set once the cases are known.
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_locks.cmake)
    file(WRITE ${script} "foreach(t IN LISTS ${name}_TESTS)\n"
      "  set_tests_properties(\"\${t}\" PROPERTIES RESOURCE_LOCK \"${KV_LOCKS}\")\n"
      "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  endif()
endfunction()
