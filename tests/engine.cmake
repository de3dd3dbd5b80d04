# The measurement engine: conversion, totals, events, intervals, realtime requests.
qm_add_test(test_engine_unit SOURCES test_engine_unit.cpp WallClock.cpp ${QM_MODULE_OBJECTS}
            LIBS qmsim qmhostcore)
qm_add_test(test_reports SOURCES test_reports.cpp WallClock.cpp ${QM_MODULE_OBJECTS}
            LIBS qmsim qmhostcore)
target_include_directories(test_reports SYSTEM PRIVATE ${QM_TEST_JSON_INCLUDE})

# End to end through the loaded plug-in against the measuring chip.
qm_add_test(test_measurement SOURCES test_measurement.cpp WallClock.cpp ScratchFiles.cpp LIBS qmsim qmhostcore)
add_dependencies(test_measurement QM9000)

# The threads of a real host around the loaded plug-in.
qm_add_test(test_concurrency SOURCES test_concurrency.cpp WallClock.cpp LIBS qmsim qmhostcore)
add_dependencies(test_concurrency QM9000)
