klx_add_gui_test(script_gui_tests
  NEEDS klx_desktop klx_scripts_ui
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/script_window_test.cpp
  LIBS klx_desktop klx_scripts_ui klx_sim GTest::gmock)
