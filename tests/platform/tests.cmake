klx_add_test(platform_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/port_map_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/loopback_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/libserialport_pty_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/tty_termios_test.cpp
  LIBS klx_platform)
