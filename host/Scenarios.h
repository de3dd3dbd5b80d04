// Line scenarios for the live demo, scripted on the simulated board's clock so
// a new user sees events happen.
#pragma once

#include <cstdint>
#include <string>

// Names: "steady", "swell", "sag", "phase-loss", "unbalanced". The disturbance
// starts a few seconds in and comes back every cycle of the scenario.
bool isScenario(const std::string& name);
const char* scenarioNames();

// Schedules the scenario's disturbances from startMicros for the next
// durationMicros of board time (0: the first hour).
void scheduleScenario(const std::string& name, uint64_t startMicros, uint64_t durationMicros);
