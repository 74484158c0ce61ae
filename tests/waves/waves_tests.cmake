# klx_waves exists once src/waves is among the top-level subdirectories.
if(TARGET klx_waves)
  klx_add_test(waves_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/analysis_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/files_test.cpp
    LIBS klx_waves)
endif()
