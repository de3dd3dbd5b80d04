# The measurement engine: conversion, totals, events, intervals, realtime requests.
qm_add_test(test_engine_unit SOURCES test_engine_unit.cpp WallClock.cpp $<TARGET_OBJECTS:qm9000_objects>
            LIBS qmsim qmhostcore)
qm_add_test(test_reports SOURCES test_reports.cpp WallClock.cpp $<TARGET_OBJECTS:qm9000_objects>
            LIBS qmsim qmhostcore)
target_include_directories(test_reports SYSTEM PRIVATE ${QM_TEST_JSON_INCLUDE})
