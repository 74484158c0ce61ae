# The desktop's ports and the setup dialog's tick against the simulated logger. Built only where
# Qt is installed.
find_package(Qt6 QUIET COMPONENTS Widgets Test)
if(KLX_BUILD_GUI AND TARGET Qt6::Widgets AND TARGET Qt6::Test AND TARGET klx_deployment_ui)
  klx_add_test(gui_fidelity_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fidelity_gui_test.cpp
    LIBS klx_desktop klx_deployment_ui klx_session klx_sim Qt6::Widgets Qt6::Test util)
  if(TARGET gui_fidelity_tests)
    target_compile_definitions(gui_fidelity_tests PRIVATE
      KLX_GUI_OUTPUT_DIR="${PROJECT_BINARY_DIR}/tests/gui")
  endif()
endif()
