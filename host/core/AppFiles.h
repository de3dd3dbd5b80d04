// The host's application directory and the files it keeps there: the probe
// catalogue it loads at start and publishes to the module.
#pragma once

#include <memory>
#include <string>

#include "CfgProbe.h"

// The probe file, in the application directory.
constexpr const char* PROBE_FILE_NAME = "CfgProbe.json";

// "/home/kesh/marivel/App", or the directory QM_APP_DIR names.
std::string appDirectory();

// A catalogue loaded from the probe file of the application directory (or the
// built-in probes when there is none), for the host to own and publish.
std::unique_ptr<CfgProbe> loadCfgProbe();
