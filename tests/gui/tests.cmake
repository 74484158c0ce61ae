# The desktop program's windows, driven offscreen. Built only where Qt is installed.
find_package(Qt6 QUIET COMPONENTS Widgets Test)
if(KLX_BUILD_GUI AND TARGET Qt6::Widgets AND TARGET Qt6::Test)
  klx_add_test(gui_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/main_window_test.cpp
    LIBS klx_desktop klx_display_ui Qt6::Widgets Qt6::Test GTest::gmock)
  if(TARGET gui_tests)
    target_compile_definitions(gui_tests PRIVATE
      KLX_GUI_OUTPUT_DIR="${PROJECT_BINARY_DIR}/tests/gui")
  endif()
endif()
