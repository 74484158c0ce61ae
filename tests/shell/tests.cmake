klx_add_test(shell_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/datetime_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/settings_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/program_files_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/text_file_test.cpp
  LIBS klx_shell)
