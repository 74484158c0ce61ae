klx_add_test(cards_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/meta_table_test.cpp ${CMAKE_CURRENT_LIST_DIR}/generic_card_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/mmc_modem_test.cpp ${CMAKE_CURRENT_LIST_DIR}/sim_cards_test.cpp
  LIBS klx_cards klx_sim)
