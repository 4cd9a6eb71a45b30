# Tests of the view rules and item models (included by tests/app/CMakeLists.txt).
find_package(Qt6 REQUIRED COMPONENTS Test)
zelto_add_test(NAME app_view_rules_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ViewRulesTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ExternalFactsTest.cpp LIBS app)
zelto_add_test(NAME app_models_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ModelsTest.cpp LIBS app Qt6::Test)
zelto_add_test(NAME app_compare_models_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CompareModelsTest.cpp LIBS app Qt6::Test)
