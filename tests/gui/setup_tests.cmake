# The setup dialog offscreen against the simulated logger. Built only where Qt is installed.
klx_add_gui_test(setup_gui_tests
  NEEDS klx_deployment_ui
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/setup_dialog_test.cpp
  LIBS klx_deployment_ui klx_session klx_sim)
