klx_add_test(integration_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/transcript.cpp
          ${CMAKE_CURRENT_LIST_DIR}/session_replay_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/connection_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/pty_test.cpp
  LIBS klx_session klx_sim)
