# The host's recorder: classification, the event database, the ring's windows.
qm_add_test(test_recorder SOURCES test_recorder.cpp WallClock.cpp ScratchFiles.cpp LIBS qmhosttools qmsim)
add_dependencies(test_recorder QM9000)
# The event database: its layouts, its marks, its start-up check and its bound.
qm_add_test(test_event_database SOURCES test_event_database.cpp ScratchFiles.cpp LIBS qmhosttools)
target_compile_definitions(test_event_database PRIVATE QM_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
