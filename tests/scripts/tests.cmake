klx_add_test(scripts_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/rcfg_test.cpp ${CMAKE_CURRENT_LIST_DIR}/optode_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/configuration_script_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/optode_script_test.cpp
  LIBS klx_scripts klx_sim)
