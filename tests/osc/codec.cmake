zelto_add_test(NAME codec_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/codec_value_message_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/codec_bundle_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/codec_pattern_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/codec_wire_scan_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/codec_datagram_test.cpp
  LIBS osc_codec)

# liblo binds a socket for its dispatcher, so this one runs in a private namespace.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBLO REQUIRED IMPORTED_TARGET liblo)
zelto_add_test(NAME codec_liblo_interop_tests NETNS
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/codec_liblo_interop_test.cpp
  LIBS osc_codec PkgConfig::LIBLO)

# Replaces the global allocator to count allocations and to fail one on
# request, so it is a binary of its own.
zelto_add_test(NAME codec_allocation_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/codec_allocation_hooks.cpp
    ${CMAKE_CURRENT_LIST_DIR}/codec_allocation_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/codec_allocation_failure_test.cpp
  LIBS osc_codec)
