klx_add_test(cards_sim_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_cards_test.cpp
  LIBS klx_cards klx_sim)
