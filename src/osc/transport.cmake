# osc: the UDP socket layer, client, server, connections, provider, dispatcher.
add_library(osc STATIC
  ${CMAKE_CURRENT_LIST_DIR}/AsyncUdpSocket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCClient.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCConnection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCMessageProvider.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCObjectDispatcher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCServer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCTransportErrors.cpp
)
target_include_directories(osc PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(osc PUBLIC osc_codec async asio)
