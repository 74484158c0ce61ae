klx_add_test(files_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_header_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/hex_file_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/dat_file_test.cpp
  LIBS klx_files)
