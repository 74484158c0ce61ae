klx_add_test(mat_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mat_file_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/activity_log_test.cpp
  LIBS klx_files)
