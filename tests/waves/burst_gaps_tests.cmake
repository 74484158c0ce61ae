if(TARGET klx_waves)
  klx_add_test(burst_gaps_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/burst_gaps_test.cpp LIBS klx_waves)
endif()
