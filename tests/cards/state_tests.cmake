klx_add_test(cards_state_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/handler_state_test.cpp LIBS klx_cards)
