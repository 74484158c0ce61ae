# The wave window, the retrieval dialog's wave variant and the wave plan in the setup dialog,
# offscreen. Built only where Qt is installed.
klx_add_gui_test(waves_gui_tests
  NEEDS klx_desktop klx_waves_ui
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/waves_window_test.cpp
  LIBS klx_desktop klx_waves_ui GTest::gmock)
