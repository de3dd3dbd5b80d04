# The module description table: its pages and register lists, its storage on
# the module's EEPROM, the register list report and the journal names, and the
# host's table and tools.
qm_add_test(test_mdt_page SOURCES test_mdt_page.cpp ScratchFiles.cpp LIBS qmappfiles qmsim)
qm_add_test(test_mdt_storage SOURCES test_mdt_storage.cpp ScratchFiles.cpp LIBS qmappfiles qmsim)
qm_add_test(test_mdt_reports SOURCES test_mdt_reports.cpp WallClock.cpp ${QM_MODULE_OBJECTS}
            LIBS qmsim qmhostcore)
target_include_directories(test_mdt_reports SYSTEM PRIVATE ${QM_TEST_JSON_INCLUDE})

# The host's side through the loaded plug-in: the table built from the
# simulated EEPROM, the tools on an image file.
qm_add_test(test_mdt_host SOURCES test_mdt_host.cpp ScratchFiles.cpp WallClock.cpp LIBS qmhosttools qmsim qmsimline)
target_include_directories(test_mdt_host SYSTEM PRIVATE ${QM_TEST_JSON_INCLUDE})
add_dependencies(test_mdt_host QM9000)
