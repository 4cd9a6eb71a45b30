# Helpers shared by tests/, bench/ and fuzz/.

# zelto_add_test(NAME name SOURCES a.cpp ... LIBS lib ... [NETNS])
# Builds a GoogleTest executable and registers each of its tests with CTest.
# NETNS: the executable moves itself into a private network namespace (with
# loopback up) before any test runs, so it may bind the protocol's fixed ports
# and create veth pairs without touching the machine's real interfaces.
function(zelto_add_test)
  cmake_parse_arguments(T "NETNS" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(T_NETNS)
    target_link_libraries(${T_NAME} PRIVATE zelto_test_netns_main ${T_LIBS})
  else()
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main ${T_LIBS})
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "ZELTO_BUILD_DIR=${PROJECT_BINARY_DIR};ZELTO_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# zelto_add_fuzzer(NAME name SOURCES a.cpp ... LIBS lib ...)
function(zelto_add_fuzzer)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzzers)
  set_property(GLOBAL APPEND PROPERTY ZELTO_FUZZERS ${F_NAME})
endfunction()
