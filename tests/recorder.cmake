# The host's recorder: classification, the event database, the ring's windows.
qm_add_test(test_recorder SOURCES test_recorder.cpp WallClock.cpp ScratchFiles.cpp LIBS qmhosttools qmsim)
add_dependencies(test_recorder QM9000)
