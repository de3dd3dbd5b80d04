# Modbus against a running qmhost and a server in the suite's process on a
# module of its own: Debian's libmodbus as the client, the web API
# (cpp-httplib, with the features Debian's library was built with: web.cmake,
# which names them, comes later) to compare with; processes of the build
# machine, so the suite runs in the native build.
if(NOT CMAKE_CROSSCOMPILING)
  qm_add_test(test_modbus SOURCES test_modbus.cpp ScratchFiles.cpp ${PROJECT_SOURCE_DIR}/QMCommon/MeasSOM.cpp LIBS qmmodbus cpp-httplib modbus)
  target_include_directories(test_modbus SYSTEM PRIVATE ${QM_TEST_JSON_INCLUDE})
  target_compile_definitions(test_modbus PRIVATE CPPHTTPLIB_OPENSSL_SUPPORT CPPHTTPLIB_ZLIB_SUPPORT
                                                 CPPHTTPLIB_BROTLI_SUPPORT QM_HOST_PATH="${CMAKE_BINARY_DIR}/qmhost"
                                                 QM_CONFIG_DIR="${PROJECT_SOURCE_DIR}/config"
                                                 QM_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(test_modbus qmhost)
endif()
