klx_add_test(crash_safe_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/crash_safe_save_test.cpp
  LIBS klx_files)
