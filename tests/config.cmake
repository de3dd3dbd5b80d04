# Configuration files: the JSON scanner and file base, the measurement
# configuration, the register initialization file, the calibration store and
# the probe catalogue; the fuzz corpus replay.

set(QM_JSON_SOURCES ${PROJECT_SOURCE_DIR}/QMCommon/JSONBuffer.cpp ${PROJECT_SOURCE_DIR}/QMCommon/JSONFile.cpp
                    ${PROJECT_SOURCE_DIR}/QMCommon/AtomicFileWriter.cpp ${PROJECT_SOURCE_DIR}/QMCommon/ReadOnlyFile.cpp)

qm_add_test(test_json_scanner SOURCES test_json_scanner.cpp ${PROJECT_SOURCE_DIR}/QMCommon/JSONBuffer.cpp)
qm_add_test(test_json_file SOURCES test_json_file.cpp ScratchFiles.cpp ${QM_JSON_SOURCES})
qm_add_test(test_cfg_probe SOURCES test_cfg_probe.cpp ScratchFiles.cpp LIBS qmappfiles)

# The module's configuration classes reached directly, against the simulated chip.
foreach(config_test test_cfg9000 test_init9000 test_cal9000)
  qm_add_test(${config_test} SOURCES ${config_test}.cpp ScratchFiles.cpp WallClock.cpp
              ${QM_MODULE_OBJECTS} LIBS qmsim qmhostcore)
endforeach()

# The files as the host's module sees them: loaded plug-in, published catalogue.
qm_add_test(test_config_plugin SOURCES test_config_plugin.cpp ScratchFiles.cpp WallClock.cpp
            LIBS qmsim qmhostcore qmappfiles)
add_dependencies(test_config_plugin QM9000)
foreach(example_test test_cfg9000 test_init9000 test_cal9000)
  target_compile_definitions(${example_test} PRIVATE QM_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endforeach()

add_subdirectory(${PROJECT_SOURCE_DIR}/fuzz ${CMAKE_BINARY_DIR}/fuzz)
