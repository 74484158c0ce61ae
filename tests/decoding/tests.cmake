klx_add_test(decoding_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/channel_types_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/equations_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/decoder_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/instant_reading_test.cpp
  LIBS klx_decoding)
