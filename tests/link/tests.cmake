klx_add_test(link_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/protocol_test.cpp
  LIBS klx_link)
