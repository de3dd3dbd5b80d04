# The web page and its API against a running qmhost: a real HTTP client and
# Debian's Chromium. The suite starts both as processes of the build machine,
# so it runs in the native build. The client is Debian's cpp-httplib, a
# compiled library: its header must see the features it was built with.
set(QM_HTTPLIB_FEATURES CPPHTTPLIB_OPENSSL_SUPPORT CPPHTTPLIB_ZLIB_SUPPORT CPPHTTPLIB_BROTLI_SUPPORT)
if(NOT CMAKE_CROSSCOMPILING)
  qm_add_test(test_web SOURCES test_web.cpp Browser.cpp ComtradeReader.cpp ScratchFiles.cpp LIBS qmhosttools qmsim cpp-httplib)
  target_include_directories(test_web SYSTEM PRIVATE ${QM_TEST_JSON_INCLUDE})
  set(QM_ARTIFACTS_DIR ${CMAKE_BINARY_DIR}/artifacts)
  file(MAKE_DIRECTORY ${QM_ARTIFACTS_DIR})
  target_compile_definitions(test_web PRIVATE ${QM_HTTPLIB_FEATURES} QM_HOST_PATH="${CMAKE_BINARY_DIR}/qmhost"
                                              QM_CONFIG_DIR="${PROJECT_SOURCE_DIR}/config"
                                              QM_ARTIFACTS_DIR="${QM_ARTIFACTS_DIR}")
  add_dependencies(test_web qmhost)
endif()
# The server against slow and hostile clients, in real time, and the page
# beyond the loopback.
if(NOT CMAKE_CROSSCOMPILING)
  qm_add_test(test_web_limits SOURCES test_web_limits.cpp Browser.cpp ScratchFiles.cpp LIBS cpp-httplib)
  target_include_directories(test_web_limits SYSTEM PRIVATE ${QM_TEST_JSON_INCLUDE})
  target_compile_definitions(test_web_limits PRIVATE ${QM_HTTPLIB_FEATURES} QM_HOST_PATH="${CMAKE_BINARY_DIR}/qmhost"
                                                     QM_CONFIG_DIR="${PROJECT_SOURCE_DIR}/config")
  add_dependencies(test_web_limits qmhost)
endif()

# Who may read and change the meter through the page, and the capture its
# viewers share: units, no server.
qm_add_test(test_web_access SOURCES test_web_access.cpp ScratchFiles.cpp ${PROJECT_SOURCE_DIR}/QMCommon/MeasSOM.cpp
            LIBS qmweb)
