# The desktop program's windows, driven offscreen. Built only where Qt is installed.
klx_add_gui_test(gui_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/main_window_test.cpp
  LIBS klx_desktop klx_display_ui GTest::gmock)
