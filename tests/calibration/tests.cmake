klx_add_test(calibration_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/read_test.cpp ${CMAKE_CURRENT_LIST_DIR}/write_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/history_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/two_point_test.cpp
  LIBS klx_calibration klx_sim)
