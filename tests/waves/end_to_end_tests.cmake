# The tide-and-wave recorder retrieved from the simulator, analysed and saved.
if(TARGET klx_session AND TARGET klx_sim)
  klx_add_test(waves_end_to_end_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/end_to_end_test.cpp
    LIBS klx_session klx_sim)
endif()
