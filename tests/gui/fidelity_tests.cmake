# The serial ports the desktop finds at start-up. Built only where Qt is installed.
klx_add_gui_test(gui_fidelity_tests
  NEEDS klx_deployment_ui
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fidelity_gui_test.cpp
  LIBS klx_desktop klx_deployment_ui klx_session klx_sim util)
