# What the wave window shows and the tide-and-wave plan checks.
if(TARGET klx_waves)
  klx_add_test(wave_view_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/view_test.cpp
    LIBS klx_waves)
endif()
