# The real board functions over the fake device layer, with the loaded plug-in.
qm_add_test(test_board SOURCES test_board.cpp WallClock.cpp ScratchFiles.cpp
            ${PROJECT_SOURCE_DIR}/host/CalibrationBench.cpp
            LIBS qmboard qmsimcore qmhostcore qmappfiles)
target_include_directories(test_board PRIVATE ${PROJECT_SOURCE_DIR}/host)
add_dependencies(test_board QM9000)
