klx_add_test(files_fidelity_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fidelity_test.cpp
  LIBS klx_files klx_derived)
