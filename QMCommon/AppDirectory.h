// The application directory, where the probe file and the configuration files
// named by the module description table live. The environment variable
// QM_APP_DIR overrides it (tests and the simulated meter use their own).
#pragma once

constexpr const char* DEFAULT_APP_DIRECTORY = "/home/kesh/marivel/App";

const char* getAppDirectory();
