# Catalogue, driver, lifecycle and process cycle.
# The catalogue itself comes with the simulated board, which reads its widths from it.
qm_add_test(test_catalogue SOURCES test_catalogue.cpp ${PROJECT_SOURCE_DIR}/QM9000/JournalTables.cpp
            ${PROJECT_SOURCE_DIR}/QM9000/DriverADE9000.cpp LIBS qmsim)
qm_add_test(test_driver SOURCES test_driver.cpp ${PROJECT_SOURCE_DIR}/QM9000/DriverADE9000.cpp LIBS qmsim)

# Through the loaded plug-in, as the host drives it.
qm_add_test(test_lifecycle SOURCES test_lifecycle.cpp WallClock.cpp LIBS qmsim qmhostcore)
qm_add_test(test_process_cycle SOURCES test_process_cycle.cpp WallClock.cpp ScratchFiles.cpp LIBS qmsim qmhostcore)
qm_add_test(test_symbols SOURCES test_symbols.cpp)
foreach(plugin_test test_lifecycle test_process_cycle test_symbols)
  add_dependencies(${plugin_test} QM9000)
endforeach()

# The module as the board's package builds it, with the SoC's system timer as
# its counter: where that timer cannot be had (here), it measures on micros().
add_library(QM9000BoardTimer MODULE $<TARGET_OBJECTS:qm9000_objects> ${PROJECT_SOURCE_DIR}/QM9000/qm_timer.cpp)
target_compile_definitions(QM9000BoardTimer PRIVATE QM_BOARD_TIMER=1)
target_include_directories(QM9000BoardTimer PRIVATE ${PROJECT_SOURCE_DIR}/QMCommon ${PROJECT_SOURCE_DIR}/QM9000)
set_target_properties(QM9000BoardTimer PROPERTIES PREFIX "" SUFFIX ".so" CXX_VISIBILITY_PRESET hidden
                      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_libraries(QM9000BoardTimer PRIVATE Threads::Threads m)
target_link_options(QM9000BoardTimer PRIVATE -Wl,-Bsymbolic)
add_dependencies(test_process_cycle QM9000BoardTimer)
target_compile_definitions(test_process_cycle PRIVATE
                           QM_BOARD_TIMER_PLUGIN_PATH="${CMAKE_BINARY_DIR}/QM9000BoardTimer.so")

# The module's classes reached directly.
qm_add_test(test_module_unit SOURCES test_module_unit.cpp WallClock.cpp ${QM_MODULE_OBJECTS}
            LIBS qmsim qmhostcore)
