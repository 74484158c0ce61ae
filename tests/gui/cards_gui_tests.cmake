# The accessory-card commands of the main window, offscreen, on simulated loggers. Built only
# where Qt is installed.
find_package(Qt6 QUIET COMPONENTS Widgets Test)
if(KLX_BUILD_GUI AND TARGET Qt6::Test AND TARGET klx_desktop AND TARGET klx_cards_ui)
  klx_add_test(cards_gui_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/cards_menu_test.cpp
    LIBS klx_desktop klx_cards_ui klx_sim Qt6::Widgets Qt6::Test GTest::gmock)
  if(TARGET cards_gui_tests)
    target_compile_definitions(cards_gui_tests PRIVATE
      KLX_GUI_OUTPUT_DIR="${PROJECT_BINARY_DIR}/tests/gui")
  endif()
endif()
