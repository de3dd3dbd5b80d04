# Catalogue, driver, lifecycle and process cycle.
# The catalogue itself comes with the simulated board, which reads its widths from it.
qm_add_test(test_catalogue SOURCES test_catalogue.cpp ${PROJECT_SOURCE_DIR}/QM9000/JournalTables.cpp
            ${PROJECT_SOURCE_DIR}/QM9000/DriverADE9000.cpp LIBS qmsim)
qm_add_test(test_driver SOURCES test_driver.cpp ${PROJECT_SOURCE_DIR}/QM9000/DriverADE9000.cpp LIBS qmsim)

# Through the loaded plug-in, as the host drives it.
qm_add_test(test_lifecycle SOURCES test_lifecycle.cpp WallClock.cpp LIBS qmsim qmhostcore)
qm_add_test(test_process_cycle SOURCES test_process_cycle.cpp WallClock.cpp LIBS qmsim qmhostcore)
qm_add_test(test_symbols SOURCES test_symbols.cpp)
foreach(plugin_test test_lifecycle test_process_cycle test_symbols)
  add_dependencies(${plugin_test} QM9000)
endforeach()

# The module's classes reached directly.
qm_add_test(test_module_unit SOURCES test_module_unit.cpp WallClock.cpp $<TARGET_OBJECTS:qm9000_objects>
            LIBS qmsim qmhostcore)
