// Line scenarios for the live demo, scripted on the simulated board's clock so
// a new user sees events happen (SimulatedLine::scheduleScenario).
#pragma once

#include <string>

// Names: "steady", "swell", "sag", "phase-loss", "unbalanced", "drift". The
// disturbance starts a few seconds in and comes back every 20 s; "drift" moves
// every voltage from the start, a step each half-cycle, so no two records
// are alike.
bool isScenario(const std::string& name);
const char* scenarioNames();
