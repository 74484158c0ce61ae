# The micro-salinometer panel on the simulated HL-240, offscreen. Built only where Qt is installed.
klx_add_gui_test(microsal_gui_tests
  NEEDS klx_microsal_ui
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/microsal_gui_test.cpp
  LIBS klx_microsal_ui klx_sim)
