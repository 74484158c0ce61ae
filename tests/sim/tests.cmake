klx_add_test(sim_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_logger_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/sim_faults_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/sim_profile_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/sim_gps_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/sim_waves_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/sim_calibration_test.cpp
  LIBS klx_sim util)
