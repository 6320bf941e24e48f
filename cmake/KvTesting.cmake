include(GoogleTest)

# kv_add_gtest(NAME SOURCES... [LIBS libs...])
# A GoogleTest program whose cases CTest discovers when the tests run (under wine when cross
# building), so that building never starts wine.
function(kv_add_gtest name)
  cmake_parse_arguments(KV "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${KV_SOURCES} ${KV_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${KV_LIBS} gtest gmock gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 240)
endfunction()
