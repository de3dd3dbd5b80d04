// The live console view of the meter, read through realtimeGet as a host would.
#pragma once

#include <string>

#include "MeasSOM.h"
#include "RPi.h"
#include "Recorder.h"

// Renders one screen: per phase and total values, angles, interval energy and
// peak demand, limit status and recording windows, under a title naming the
// board (and the simulated line's scenario).
std::string renderLiveView(MeasSOM& module, STATUS_AND_CONTROL& stat, const RecorderCounts& recorded,
                           double dSeconds, const std::string& boardLine);
