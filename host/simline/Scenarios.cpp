#include "Scenarios.h"

namespace {
const char* const SCENARIO_NAMES[] = {
    "steady", "swell", "sag", "phase-loss", "unbalanced", "drift", "voltage-unbalance", "week"};
}  // namespace

bool isScenario(const std::string& name) {
    for (const char* pszName : SCENARIO_NAMES)
        if (name == pszName) return true;
    return false;
}

const char* scenarioNames() {
    return "steady, swell, sag, phase-loss, unbalanced, drift, voltage-unbalance, week";
}
