// The chip's register catalogue: one constant row per ADE9000 register; and
// the registers each energy and demand quantity is read from.
#pragma once

#include <cstdint>

#include "AccumulatorTables.h"

#pragma pack(push, 1)

struct ADE_REGISTER_DEFINITION {
    uint16_t unAddress;
    int16_t nSizeInBits;  // 32, or 16 for the registers 0x480..0x4FE
    char pszName[40];     // padded with blanks to 12 characters
    char pszUnits[16];    // short unit label; empty in most rows
    uint8_t uFormat;
    uint8_t uProcess;  // conversion code of the value conversion
    uint32_t ulInit;   // initial value where recorded, else 0
};

#pragma pack(pop)

constexpr int REGISTER_DEFS_ROWS = 444;

// Conversion codes (uProcess).
enum eRegProcess : uint8_t {
    proc_NONE = 0,
    proc_VRMS = 1,
    proc_IRMS = 2,
    proc_PERIOD = 3,
    proc_PF = 4,
    proc_THD = 8,
    proc_WATT = 9,
    proc_VA_A = 10,
    proc_VA_B = 11,
    proc_VA_C = 12,
    proc_VAR_A = 13,
    proc_VAR_B = 14,
    proc_VAR_C = 15,
};

extern const ADE_REGISTER_DEFINITION g_rd9000RegisterDefs[REGISTER_DEFS_ROWS];

// Energy rows (eEnergyAccum order), then demand rows (ePowerAccum order).
constexpr int ENERGY_DESC_ROWS = 48;
constexpr uint16_t ENERGY_ADDRESS_NONE = 0xFFFF;

extern const ENERGY_READ_DESCRIPTION g_engDesc[ENERGY_DESC_ROWS];
