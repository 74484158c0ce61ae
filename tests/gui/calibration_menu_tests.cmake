# The calibration menu commands and the statistics window in the main window, offscreen, on
# simulated loggers. Built only where Qt is installed.
klx_add_gui_test(calibration_menu_tests
  NEEDS klx_desktop
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/calibration_menu_test.cpp
  LIBS klx_desktop klx_display_ui klx_calibration_ui klx_sim GTest::gmock)
