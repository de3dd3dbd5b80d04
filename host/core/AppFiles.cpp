#include "AppFiles.h"

#include "AppDirectory.h"

std::string appDirectory() {
    return getAppDirectory();
}

std::unique_ptr<CfgProbe> loadCfgProbe() {
    auto probes = std::make_unique<CfgProbe>();
    probes->load(PROBE_FILE_NAME);
    return probes;
}
