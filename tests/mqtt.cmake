# MQTT against Debian's mosquitto: qmhost publishing as a process of the build
# machine, so the suite runs in the native build; the web API (cpp-httplib)
# to compare with.
if(NOT CMAKE_CROSSCOMPILING)
  qm_add_test(test_mqtt SOURCES test_mqtt.cpp ScratchFiles.cpp LIBS qmmqtt cpp-httplib mosquitto)
  target_include_directories(test_mqtt SYSTEM PRIVATE ${QM_TEST_JSON_INCLUDE})
  target_compile_definitions(test_mqtt PRIVATE CPPHTTPLIB_OPENSSL_SUPPORT CPPHTTPLIB_ZLIB_SUPPORT
                                               CPPHTTPLIB_BROTLI_SUPPORT QM_HOST_PATH="${CMAKE_BINARY_DIR}/qmhost"
                                               QM_CONFIG_DIR="${PROJECT_SOURCE_DIR}/config")
  add_dependencies(test_mqtt qmhost)
endif()
