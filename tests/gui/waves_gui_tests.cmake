# The wave window, the retrieval dialog's wave variant and the wave plan in the setup dialog,
# offscreen. Built only where Qt is installed.
find_package(Qt6 QUIET COMPONENTS Widgets Test)
if(KLX_BUILD_GUI AND TARGET Qt6::Test AND TARGET klx_desktop AND TARGET klx_waves_ui)
  klx_add_test(waves_gui_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/waves_window_test.cpp
    LIBS klx_desktop klx_waves_ui Qt6::Widgets Qt6::Test GTest::gmock)
  if(TARGET waves_gui_tests)
    target_compile_definitions(waves_gui_tests PRIVATE
      KLX_GUI_OUTPUT_DIR="${PROJECT_BINARY_DIR}/tests/gui")
  endif()
endif()
