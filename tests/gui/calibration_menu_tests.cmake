# The calibration menu commands and the statistics window in the main window, offscreen, on
# simulated loggers. Built only where Qt is installed.
find_package(Qt6 QUIET COMPONENTS Widgets Test)
if(KLX_BUILD_GUI AND TARGET Qt6::Test AND TARGET klx_desktop)
  klx_add_test(calibration_menu_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/calibration_menu_test.cpp
    LIBS klx_desktop klx_display_ui klx_calibration_ui klx_sim Qt6::Widgets Qt6::Test GTest::gmock)
  if(TARGET calibration_menu_tests)
    target_compile_definitions(calibration_menu_tests PRIVATE
      KLX_GUI_OUTPUT_DIR="${PROJECT_BINARY_DIR}/tests/gui")
  endif()
endif()
