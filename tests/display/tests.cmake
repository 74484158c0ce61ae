klx_add_test(display_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/graph_view_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/screen_capture_test.cpp
  LIBS klx_display)
