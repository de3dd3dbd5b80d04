# The measurement engine: conversion, totals, events, intervals, realtime requests.
qm_add_test(test_engine_unit SOURCES test_engine_unit.cpp WallClock.cpp $<TARGET_OBJECTS:qm9000_objects>
            LIBS qmsim qmhostcore)
