# klx_waves exists once src/waves is among the top-level subdirectories.
if(TARGET klx_waves)
  klx_add_test(waves_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/analysis_test.cpp ${CMAKE_CURRENT_LIST_DIR}/files_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/view_test.cpp ${CMAKE_CURRENT_LIST_DIR}/burst_assembly_test.cpp
    LIBS klx_waves)
endif()
# The tide-and-wave recorder retrieved from the simulator, analysed and saved.
if(TARGET klx_session AND TARGET klx_sim)
  klx_add_test(waves_end_to_end_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/end_to_end_test.cpp
    LIBS klx_session klx_sim)
endif()
