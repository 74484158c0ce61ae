# The micro-salinometer panel on the simulated HL-240, offscreen. Built only where Qt is installed.
find_package(Qt6 QUIET COMPONENTS Widgets Test)
if(KLX_BUILD_GUI AND TARGET Qt6::Test AND TARGET klx_microsal_ui)
  klx_add_test(microsal_gui_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/microsal_gui_test.cpp
    LIBS klx_microsal_ui klx_sim Qt6::Widgets Qt6::Test)
  if(TARGET microsal_gui_tests)
    target_compile_definitions(microsal_gui_tests PRIVATE
      KLX_GUI_OUTPUT_DIR="${PROJECT_BINARY_DIR}/tests/gui")
  endif()
endif()
