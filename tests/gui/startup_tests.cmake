# The desktop program's start: the application object, the command line, and the picture the
# program takes of itself (run as a separate process). Built only where Qt is installed.
klx_add_gui_test(gui_startup_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/startup_test.cpp
  LIBS klx_desktop klx_display_ui GTest::gmock)
if(TARGET gui_startup_tests)
  target_compile_definitions(gui_startup_tests PRIVATE KLX_GUI_PROGRAM="$<TARGET_FILE:klx-gui>")
  add_dependencies(gui_startup_tests klx-gui)
endif()
