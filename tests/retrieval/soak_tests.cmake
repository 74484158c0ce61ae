klx_add_test(retrieval_soak_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/soak_test.cpp
  LIBS klx_session klx_sim)
