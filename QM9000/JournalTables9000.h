// The module's burst read map, defined in JournalTables.cpp. It cannot take
// that file's name: JournalTables.h is the journal layout hosts share.
#pragma once

#include <cstdint>

#include "JournalTables.h"

constexpr int BURST_READ_MAP_ROWS = 63;
constexpr uint16_t BURST_MAP_NONE = 65535;

extern const BURST_READ_MAP_RECORD g_mrBurstReadMap[BURST_READ_MAP_ROWS];
