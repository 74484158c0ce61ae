# The calibration dialog and the shipping certificate printed to PDF, offscreen. Built only
# where Qt is installed.
find_package(Qt6 QUIET COMPONENTS Widgets Test)
if(KLX_BUILD_GUI AND TARGET Qt6::Test AND TARGET klx_calibration_ui)
  klx_add_test(calibration_gui_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/calibration_window_test.cpp
    LIBS klx_calibration_ui klx_sim Qt6::Widgets Qt6::Test)
  if(TARGET calibration_gui_tests)
    target_compile_definitions(calibration_gui_tests PRIVATE
      KLX_GUI_OUTPUT_DIR="${PROJECT_BINARY_DIR}/tests/gui")
  endif()
endif()
