# Power quality: the analysis library fed half-cycle records directly, on any
# time scale; the week scenario's program is played from its table.
qm_add_test(test_pq SOURCES test_pq.cpp ${PROJECT_SOURCE_DIR}/host/simline/WeekProgram.cpp LIBS qmpq)
target_include_directories(test_pq PRIVATE ${PROJECT_SOURCE_DIR}/host/simline)
# Power quality through qmhost: twenty minutes on virtual time, then a host in
# real time on their database. It runs the build machine's processes: natively
# and under the sanitizers, not under qemu. (cpp-httplib's features named here:
# web.cmake, which names them, is read later.)
if(NOT CMAKE_CROSSCOMPILING)
  qm_add_test(test_pq_host SOURCES test_pq_host.cpp ScratchFiles.cpp LIBS qmexport cpp-httplib)
  target_include_directories(test_pq_host SYSTEM PRIVATE ${QM_TEST_JSON_INCLUDE})
  target_compile_definitions(test_pq_host PRIVATE CPPHTTPLIB_OPENSSL_SUPPORT CPPHTTPLIB_ZLIB_SUPPORT
                             CPPHTTPLIB_BROTLI_SUPPORT QM_HOST_PATH="${CMAKE_BINARY_DIR}/qmhost"
                             QM_CONFIG_DIR="${PROJECT_SOURCE_DIR}/config")
  add_dependencies(test_pq_host qmhost)
endif()
