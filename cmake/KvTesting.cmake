include(GoogleTest)

# kv_add_gtest(NAME SOURCES... [LIBS libs...] [PROPERTIES prop value ...])
# A GoogleTest program whose cases CTest discovers when the tests run (under wine when cross
# building), so that building never starts wine. PROPERTIES go to every discovered case, for
# example RESOURCE_LOCK for cases that share machine-wide state such as a registry key.
function(kv_add_gtest name)
  cmake_parse_arguments(KV "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${KV_SOURCES} ${KV_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${KV_LIBS} gtest gmock gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 240 ${KV_PROPERTIES})
endfunction()
