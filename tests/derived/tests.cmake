# klx_derived exists once src/derived is among the top-level subdirectories.
if(TARGET klx_derived)
  klx_add_test(derived_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/formulas_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/derived_test.cpp
    LIBS klx_derived)
endif()
