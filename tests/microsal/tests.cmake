klx_add_test(microsal_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/standardization_test.cpp ${CMAKE_CURRENT_LIST_DIR}/run_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/measurement_test.cpp ${CMAKE_CURRENT_LIST_DIR}/capture_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/sim_run_test.cpp
  LIBS klx_microsal klx_sim)
