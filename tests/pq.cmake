# Power quality: the analysis library fed half-cycle records directly, on any time scale.
qm_add_test(test_pq SOURCES test_pq.cpp LIBS qmpq)
