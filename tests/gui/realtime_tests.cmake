# The real-time windows offscreen: live readings from the simulated logger, the GPS test on the
# simulated receiver and the real-time limits. Built only where Qt is installed.
find_package(Qt6 QUIET COMPONENTS Widgets)
if(KLX_BUILD_GUI AND TARGET Qt6::Widgets AND TARGET klx_realtime_ui)
  klx_add_test(realtime_gui_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/realtime_dialogs_test.cpp
    LIBS klx_realtime_ui klx_session klx_sim Qt6::Widgets)
  if(TARGET realtime_gui_tests)
    target_compile_definitions(realtime_gui_tests PRIVATE
      KLX_GUI_OUTPUT_DIR="${PROJECT_BINARY_DIR}/tests/gui"
      KLX_SIM_PROFILES="${PROJECT_SOURCE_DIR}/sim/profiles")
  endif()
endif()
