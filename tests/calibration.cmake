# Calibration: the arithmetic, the procedures of the module class against the
# simulated chip, and the commands through the loaded plug-in and the host
# block, with the technician's bench.
qm_add_test(test_calibrate_math SOURCES test_calibrate_math.cpp ${PROJECT_SOURCE_DIR}/QM9000/DriverADE9000.cpp
            LIBS qmsim)
qm_add_test(test_calibrate_procedures SOURCES test_calibrate_procedures.cpp ScratchFiles.cpp WallClock.cpp
            ${QM_MODULE_OBJECTS} LIBS qmcalbench qmsim qmhostcore)
qm_add_test(test_calibrate_commands SOURCES test_calibrate_commands.cpp ScratchFiles.cpp WallClock.cpp
            LIBS qmhosttools qmsim qmsimline)
add_dependencies(test_calibrate_commands QM9000)
target_compile_definitions(test_calibrate_commands PRIVATE QM_CONFIG_DIR="${PROJECT_SOURCE_DIR}/config")
