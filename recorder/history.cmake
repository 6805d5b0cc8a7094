# The record of recordings: a library of its own for now, which the recorder's library links.
add_library(tamblo_recording_history STATIC ${CMAKE_CURRENT_LIST_DIR}/RecordingHistory.cpp)
target_include_directories(tamblo_recording_history PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tamblo_recording_history PUBLIC Qt6::Core)
tamblo_warnings(tamblo_recording_history)
