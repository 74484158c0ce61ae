klx_add_test(retrieval_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/retrieval_test.cpp ${CMAKE_CURRENT_LIST_DIR}/fidelity_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/resume_test.cpp
  LIBS klx_session klx_sim)
