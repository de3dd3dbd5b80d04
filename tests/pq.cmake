# Power quality: the analysis library fed half-cycle records directly, on any time scale.
qm_add_test(test_pq SOURCES test_pq.cpp ${PROJECT_SOURCE_DIR}/host/simline/WeekProgram.cpp LIBS qmpq)
target_include_directories(test_pq PRIVATE ${PROJECT_SOURCE_DIR}/host/simline)
# Power quality in qmhost: a week of the simulated line on virtual time and its
# report through the API. A whole week is ~60 million half-cycles, about 500 s
# of one core: natively only, and with a timeout of its own.
if(NOT CMAKE_CROSSCOMPILING AND NOT QM_SANITIZE)
  add_executable(test_pq_host test_pq_host.cpp ScratchFiles.cpp)
  target_include_directories(test_pq_host PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_include_directories(test_pq_host SYSTEM PRIVATE ${QM_TEST_JSON_INCLUDE})
  target_link_libraries(test_pq_host PRIVATE gtest gtest_main Threads::Threads qmexport qmsimlink cpp-httplib)
  target_compile_definitions(test_pq_host PRIVATE CPPHTTPLIB_OPENSSL_SUPPORT CPPHTTPLIB_ZLIB_SUPPORT
                             CPPHTTPLIB_BROTLI_SUPPORT QM_HOST_PATH="${CMAKE_BINARY_DIR}/qmhost"
                             QM_CONFIG_DIR="${PROJECT_SOURCE_DIR}/config")
  add_dependencies(test_pq_host qmhost)
  add_test(NAME test_pq_host COMMAND test_pq_host)
  set_tests_properties(test_pq_host PROPERTIES TIMEOUT 1800)
endif()
