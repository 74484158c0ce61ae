klx_add_test(deployment_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/status_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/planning_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/enable_test.cpp
  LIBS klx_deployment klx_session klx_sim)
