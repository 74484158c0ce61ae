# The configuration-script command in the main window, offscreen, on a simulated logger. Built
# only where Qt is installed.
find_package(Qt6 QUIET COMPONENTS Widgets Test)
if(KLX_BUILD_GUI AND TARGET Qt6::Test AND TARGET klx_desktop AND TARGET klx_scripts_ui)
  klx_add_test(script_gui_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/script_window_test.cpp
    LIBS klx_desktop klx_scripts_ui klx_sim Qt6::Widgets Qt6::Test GTest::gmock)
  if(TARGET script_gui_tests)
    target_compile_definitions(script_gui_tests PRIVATE
      KLX_GUI_OUTPUT_DIR="${PROJECT_BINARY_DIR}/tests/gui")
  endif()
endif()
