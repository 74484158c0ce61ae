klx_add_test(netcdf_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/netcdf_file_test.cpp
  LIBS klx_session klx_sim)
