// A waveform snapshot taken from the running module: REQ_SCOPE_ARM re-arms
// the chip's capture, REQ_SCOPE answers once the module has read a full
// buffer in its process calls.
#pragma once

#include <chrono>

#include "MeasSOM.h"
#include "StoredEvent.h"

// False when no capture came within `wait` (the module is not running, or
// the chip does not answer). Safe from any thread while the host's loop runs.
bool takeSnapshot(MeasSOM& module, StoredSnapshot& snapshot, std::chrono::milliseconds wait);
