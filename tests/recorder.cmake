# The host's recorder: classification, the event database, the ring's windows.
qm_add_test(test_recorder SOURCES test_recorder.cpp ScratchFiles.cpp LIBS qmhosttools qmsim)
