# The meter run unattended: whether it measures, judged over the loaded plug-in
# on the simulated board; and, in the native build where it can start qmhost,
# the host's exit on a board without its devices.
qm_add_test(test_service SOURCES test_service.cpp WallClock.cpp ScratchFiles.cpp LIBS qmservice qmsim qmhostcore)
add_dependencies(test_service QM9000)
if(NOT CMAKE_CROSSCOMPILING)
  target_compile_definitions(test_service PRIVATE QM_HOST_PATH="${CMAKE_BINARY_DIR}/qmhost"
                                                  QM_CONFIG_DIR="${PROJECT_SOURCE_DIR}/config")
  add_dependencies(test_service qmhost)
endif()
