// Line scenarios for the live demo, scripted on the simulated board's clock so
// a new user sees events happen (SimulatedLine::scheduleScenario).
#pragma once

#include <string>

// Names: "steady", "swell", "sag", "phase-loss", "unbalanced". The disturbance
// starts a few seconds in and comes back every 20 s.
bool isScenario(const std::string& name);
const char* scenarioNames();
