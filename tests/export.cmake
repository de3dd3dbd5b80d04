# The record exports: COMTRADE and CSV, read back by the test's own reader.
qm_add_test(test_export SOURCES test_export.cpp ComtradeReader.cpp LIBS qmhosttools qmsim)
