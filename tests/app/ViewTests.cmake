# Tests of the view rules and item models (included by tests/app/CMakeLists.txt).
zelto_add_test(NAME app_view_rules_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ViewRulesTest.cpp LIBS app)
