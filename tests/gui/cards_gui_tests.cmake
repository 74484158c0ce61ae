# The accessory-card commands of the main window, offscreen, on simulated loggers. Built only
# where Qt is installed.
klx_add_gui_test(cards_gui_tests
  NEEDS klx_desktop klx_cards_ui
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cards_menu_test.cpp
  LIBS klx_desktop klx_cards_ui klx_sim GTest::gmock)
