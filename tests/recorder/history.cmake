# The record of recordings, tested on its own until the recorder has its test program.
tamblo_add_test_program(tamblo_recording_history_tests ${CMAKE_CURRENT_LIST_DIR}/RecordingHistoryTest.cpp)
target_link_libraries(tamblo_recording_history_tests PRIVATE tamblo_recording_history tamblo_test_main)
