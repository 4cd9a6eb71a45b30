zelto_add_test(NAME codec_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/codec_value_message_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/codec_bundle_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/codec_pattern_test.cpp
  LIBS osc_codec)
