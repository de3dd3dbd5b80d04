// Line scenarios for the live demo, scripted on the simulated board's clock so
// a new user sees events happen (SimulatedLine::scheduleScenario).
#pragma once

#include <string>

// Names: "steady"; "swell", "sag", "phase-loss", "unbalanced", whose
// disturbance starts a few seconds in and comes back every 20 s; "drift",
// which moves every voltage from the start, a step each half-cycle, so no two
// records are alike; "voltage-unbalance", phase B's voltage held at 95 % and
// 2 degrees late; "week", the week of WeekProgram.h, from its start.
bool isScenario(const std::string& name);
const char* scenarioNames();
