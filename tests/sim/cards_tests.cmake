klx_add_test(sim_cards_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_cards_test.cpp
  LIBS klx_sim util)
