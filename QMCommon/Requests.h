// The host's live-data requests: the codes of MeasSOM::realtimeGet's nType,
// what they answer and its results. The module and every host use these names.
#pragma once

#include <cstdint>

#include "AccumulatorTables.h"
#include "JournalTables.h"

enum eRealtimeRequest : int {
    REQ_VANDI = 0,        // voltage-and-current record: journal values 0..62
    REQ_SCOPE = 1,        // the armed waveform snapshot, converted
    REQ_PHASOR = 2,       // phase-angle record: voltage and current angles
    REQ_VANDI_ALIAS = 4,  // the same record as REQ_VANDI
    REQ_ENERGY = 5,       // energy record: interval energy, running totals, peak demand
    REQ_SCALED_JSON = 6,  // scaled values with units, JSON text
    REQ_SCOPE_ARM = 7,    // arms a waveform snapshot; writes nothing
    REQ_REGLIST = 8,      // the description table's register list, JSON text
    REQ_REGLIST_ALIAS = 9,
    REQ_MODBUS = 10,       // register-map record: the journal, interval and running energy
    REQ_JSON_VALUES = 11,  // power, energy and demand values, JSON text
    REQ_TRIGGER = 13,      // opens a recording window as a limit crossing would; writes nothing
};

// realtimeGet's results.
constexpr int REQ_OK = 0;
constexpr int REQ_UNRECOGNIZED = 2;  // no such request (or no description table for the list)
constexpr int REQ_TOO_SMALL = 3;     // the buffer is too small, or no snapshot is ready

// The binary records, in floats (4 bytes each, the host's byte order).
constexpr uint32_t VANDI_FLOATS = jrnl_NUM_REGS;                     // 63
constexpr uint32_t PHASOR_FLOATS = 6;                                // VA VB VC IA IB IC
constexpr uint32_t ENERGY_FLOATS = 3 * accum_ENERGY_MAX;             // 72
constexpr uint32_t MODBUS_FLOATS = jrnl_MAX + 2 * accum_ENERGY_MAX;  // 118
constexpr uint32_t SCOPE_SAMPLES = 128;                              // per channel
constexpr uint32_t SCOPE_FLOATS = 6 * SCOPE_SAMPLES;                 // VA, VB, VC, then IA, IB, IC
