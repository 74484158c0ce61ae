klx_add_test(realtime_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/records_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/gps_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/collection_test.cpp
  LIBS klx_realtime klx_session)
