# The transport binds fixed ports in some tests: every binary gets a private
# network namespace.
zelto_add_test(NAME transport_tests NETNS
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/transport_server_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/transport_read_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/transport_dispatcher_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/transport_client_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/transport_liblo_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/transport_memory_test.cpp
  LIBS osc)
