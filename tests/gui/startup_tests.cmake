# The desktop program's start: the application object, the command line, and the picture the
# program takes of itself (run as a separate process). Built only where Qt is installed.
find_package(Qt6 QUIET COMPONENTS Widgets Test)
if(KLX_BUILD_GUI AND TARGET Qt6::Widgets AND TARGET Qt6::Test)
  klx_add_test(gui_startup_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/startup_test.cpp
    LIBS klx_desktop klx_display_ui Qt6::Widgets Qt6::Test GTest::gmock)
  if(TARGET gui_startup_tests)
    target_compile_definitions(gui_startup_tests PRIVATE
      KLX_GUI_OUTPUT_DIR="${PROJECT_BINARY_DIR}/tests/gui"
      KLX_GUI_PROGRAM="$<TARGET_FILE:klx-gui>")
    add_dependencies(gui_startup_tests klx-gui)
  endif()
endif()
