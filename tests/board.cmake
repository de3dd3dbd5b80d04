# The real board functions over the fake device layer, with the loaded plug-in.
qm_add_test(test_board SOURCES test_board.cpp WallClock.cpp ScratchFiles.cpp LIBS qmhosttools qmboard qmsimcore qmsimline)
add_dependencies(test_board QM9000)
