klx_add_test(retrieval_resume_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/resume_test.cpp
  LIBS klx_session klx_sim)
