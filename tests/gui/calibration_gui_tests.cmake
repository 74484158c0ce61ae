# The calibration dialog and the shipping certificate printed to PDF, offscreen. Built only
# where Qt is installed.
klx_add_gui_test(calibration_gui_tests
  NEEDS klx_calibration_ui
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/calibration_window_test.cpp
  LIBS klx_calibration_ui klx_sim)
