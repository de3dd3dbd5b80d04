// The JSON the web page reads: the module's binary records by name, the
// recorded events, intervals and waveform snapshots. Numbers are written in
// their shortest form that reads back as the same value; a value that is not
// finite is null.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AccumulatorTables.h"
#include "LifetimeEnergy.h"
#include "MeterStatus.h"
#include "Requests.h"
#include "StoredEvent.h"

// {"error":"<message>"}
std::string jsonError(const std::string& message);

// The binary records the API serves, each at /api/records/<its request's code>.
constexpr eRealtimeRequest RECORD_REQUESTS[] = {REQ_VANDI, REQ_PHASOR, REQ_ENERGY, REQ_MODBUS};

// The floats a record request answers with; 0 for a request that is not one
// of RECORD_REQUESTS.
uint32_t recordRequestFloats(int nType);
// {"request":N, ...}: the record's floats by the journal's and the
// accumulator's names (see the API in the README).
std::string jsonOfRecordRequest(int nType, const float* pfValues);

// An event without its records; with them, column by column ("series").
std::string jsonOfEventSummary(const StoredEvent& event);
std::string jsonOfEvent(const StoredEvent& event);
std::string jsonOfEvents(const std::vector<StoredEvent>& events);

std::string jsonOfIntervals(const std::vector<ACCUMULATOR_DATA>& intervals);

// The six channels of one cycle, "id" only for a stored snapshot (llId > 0).
std::string jsonOfSnapshot(const StoredSnapshot& snapshot);

// {"measurement":{...},"recorder":{...},"database":{...}} (see the API in the README).
std::string jsonOfStatus(const MeterStatus& status);

// {"time":"...","timeMicros":N,"counters":{"WH_IMPORT_A":Wh,...}}: the lifetime
// counters by their published keys.
std::string jsonOfLifetime(const LifetimeTotals& totals);
