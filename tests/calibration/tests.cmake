klx_add_test(calibration_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/read_test.cpp
  LIBS klx_calibration klx_sim)
