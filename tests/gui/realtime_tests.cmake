# The real-time windows offscreen: live readings from the simulated logger, the GPS test on the
# simulated receiver and the real-time limits. Built only where Qt is installed.
klx_add_gui_test(realtime_gui_tests
  NEEDS klx_realtime_ui
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/realtime_dialogs_test.cpp
  LIBS klx_realtime_ui klx_session klx_sim)
if(TARGET realtime_gui_tests)
  target_compile_definitions(realtime_gui_tests PRIVATE KLX_SIM_PROFILES="${PROJECT_SOURCE_DIR}/sim/profiles")
endif()
