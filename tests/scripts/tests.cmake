klx_add_test(scripts_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/rcfg_test.cpp ${CMAKE_CURRENT_LIST_DIR}/optode_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/configuration_script_test.cpp
  LIBS klx_scripts klx_sim)
if(TARGET klx)
  klx_add_test(script_cli_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/script_cli_test.cpp LIBS)
  if(TARGET script_cli_tests)
    add_dependencies(script_cli_tests klx)
  endif()
endif()
