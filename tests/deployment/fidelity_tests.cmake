klx_add_test(deployment_fidelity_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fidelity_test.cpp
  LIBS klx_deployment klx_session klx_sim)
