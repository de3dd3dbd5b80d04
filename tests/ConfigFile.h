// Measurement configuration files for tests that drive the loaded plug-in.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

using Settings = std::vector<std::pair<std::string, std::string>>;

// A 230 V, 5 A, 50 Hz wye meter with 500 V and 10 A full scale.
inline Settings wyeMeter() {
    return {{"Wiring", "3"},         {"FNominal", "50"},        {"VNominal", "230"},
            {"INominal", "5"},       {"FullScaleVolts", "500"}, {"FullScaleAmps", "10"},
            {"PreTrigCycles", "10"}, {"TotalTrigCycles", "100"}};
}

inline Settings with(Settings settings, const std::string& name, const std::string& value) {
    settings.emplace_back(name, value);  // a later line for the same name wins
    return settings;
}

// One {"name", "value"} setting per line, as meter makers write them.
inline void writeConfig(const std::string& path, const Settings& settings) {
    FILE* pFile = fopen(path.c_str(), "w");
    if (!pFile) return;
    fputs("{\n  \"settings\": [\n", pFile);
    for (size_t i = 0; i < settings.size(); i++)
        fprintf(pFile, "    { \"name\": \"%s\", \"value\": %s }%s\n", settings[i].first.c_str(),
                settings[i].second.c_str(), i + 1 < settings.size() ? "," : "");
    fputs("  ]\n}\n", pFile);
    fclose(pFile);
}
