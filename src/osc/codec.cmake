add_library(osc_codec STATIC
  ${CMAKE_CURRENT_LIST_DIR}/OSCAddress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCAddressPattern.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCBundle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCBytes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCDecoding.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCErrors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCMessage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCValue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSCValueList.cpp
)
target_include_directories(osc_codec PUBLIC ${PROJECT_SOURCE_DIR}/src)
