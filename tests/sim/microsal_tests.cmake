klx_add_test(sim_microsal_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_microsal_test.cpp
  LIBS klx_sim util)
