klx_add_test(retrieval_fidelity_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fidelity_test.cpp
  LIBS klx_session klx_sim)
