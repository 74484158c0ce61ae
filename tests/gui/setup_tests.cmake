# The setup dialog offscreen against the simulated logger. Built only where Qt is installed.
find_package(Qt6 QUIET COMPONENTS Widgets)
if(KLX_BUILD_GUI AND TARGET Qt6::Widgets AND TARGET klx_deployment_ui)
  klx_add_test(setup_gui_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/setup_dialog_test.cpp
    LIBS klx_deployment_ui klx_session klx_sim Qt6::Widgets)
  if(TARGET setup_gui_tests)
    target_compile_definitions(setup_gui_tests PRIVATE
      KLX_GUI_OUTPUT_DIR="${PROJECT_BINARY_DIR}/tests/gui")
  endif()
endif()
