# What the meter publishes: the lifetime energy on the loaded plug-in, the catalogue and the interfaces made from it.
qm_add_test(test_lifetime_energy SOURCES test_lifetime_energy.cpp WallClock.cpp ScratchFiles.cpp
            LIBS qmenergy qmrecorder qmsim qmhostcore)
add_dependencies(test_lifetime_energy QM9000)
target_include_directories(test_lifetime_energy PRIVATE ${PROJECT_SOURCE_DIR}/host/recorder)
qm_add_test(test_published SOURCES test_published.cpp ${PROJECT_SOURCE_DIR}/QMCommon/MeasSOM.cpp LIBS qmweb)
target_include_directories(test_published SYSTEM PRIVATE ${QM_TEST_JSON_INCLUDE})
