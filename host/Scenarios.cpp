#include "Scenarios.h"

#include <array>

#include "Sim.h"

namespace {
constexpr uint64_t SECOND = 1000000;
constexpr uint64_t FIRST_EVENT = 5 * SECOND;  // time to look at the steady meter first
constexpr uint64_t REPEAT = 20 * SECOND;
constexpr uint64_t EVENT_LENGTH = 3 * SECOND;
constexpr uint64_t DEFAULT_SPAN = 3600 * SECOND;

const char* const kNames[] = {"steady", "swell", "sag", "phase-loss", "unbalanced"};
}  // namespace

bool isScenario(const std::string& name) {
    for (const char* pszName : kNames)
        if (name == pszName) return true;
    return false;
}

const char* scenarioNames() {
    return "steady, swell, sag, phase-loss, unbalanced";
}

void scheduleScenario(const std::string& name, uint64_t startMicros, uint64_t durationMicros) {
    const uint64_t ullEnd = startMicros + (durationMicros ? durationMicros : DEFAULT_SPAN);
    for (uint64_t at = startMicros + FIRST_EVENT; at < ullEnd; at += REPEAT) {
        if (name == "swell") {
            sim::swell(sim::Phase::A, 1.15, at, EVENT_LENGTH);  // 230 V to 264.5 V
        } else if (name == "sag") {
            sim::sag(sim::Phase::B, 0.6, at, EVENT_LENGTH);
        } else if (name == "phase-loss") {
            sim::losePhase(sim::Phase::C, at, EVENT_LENGTH);
        } else if (name == "unbalanced") {
            sim::unbalancedLoad({5.0, 8.5, 2.0}, {36.87, 10.0, 60.0}, at);
            sim::unbalancedLoad({5.0, 5.0, 5.0}, {36.87, 36.87, 36.87}, at + EVENT_LENGTH);
        }
    }
}
