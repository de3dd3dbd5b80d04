// Journal layout of one acquisition ring record, and the row type of the map
// from the chip's burst words to journal values.
#pragma once

#include <cstdint>

// Index of a value in DATA_ACQ::m_fJournal. Per-phase values are interleaved:
// quantity q of phase p (0 = A, 1 = B, 2 = C) is at 3q + p.
enum eJrnl : uint16_t {
    jrnl_FREQ_A = 0,
    jrnl_FREQ_B,
    jrnl_FREQ_C,
    jrnl_VRMS_A,
    jrnl_VRMS_B,
    jrnl_VRMS_C,
    jrnl_IRMS_A,
    jrnl_IRMS_B,
    jrnl_IRMS_C,
    jrnl_WATT_A,
    jrnl_WATT_B,
    jrnl_WATT_C,
    jrnl_VA_A,
    jrnl_VA_B,
    jrnl_VA_C,
    jrnl_VAR_A,
    jrnl_VAR_B,
    jrnl_VAR_C,
    jrnl_PF_A,
    jrnl_PF_B,
    jrnl_PF_C,
    jrnl_VTHD_A,
    jrnl_VTHD_B,
    jrnl_VTHD_C,
    jrnl_ITHD_A,
    jrnl_ITHD_B,
    jrnl_ITHD_C,
    jrnl_FVRMS_A,
    jrnl_FVRMS_B,
    jrnl_FVRMS_C,
    jrnl_FIRMS_A,
    jrnl_FIRMS_B,
    jrnl_FIRMS_C,
    jrnl_FWATT_A,
    jrnl_FWATT_B,
    jrnl_FWATT_C,
    jrnl_FVA_A,
    jrnl_FVA_B,
    jrnl_FVA_C,
    jrnl_FVAR_A,
    jrnl_FVAR_B,
    jrnl_FVAR_C,
    jrnl_VRMS1_A,
    jrnl_VRMS1_B,
    jrnl_VRMS1_C,
    jrnl_IRMS1_A,
    jrnl_IRMS1_B,
    jrnl_IRMS1_C,
    jrnl_VRMS1012_A,
    jrnl_VRMS1012_B,
    jrnl_VRMS1012_C,
    jrnl_IRMS1012_A,
    jrnl_IRMS1012_B,
    jrnl_IRMS1012_C,
    jrnl_VANGLE_A,
    jrnl_VANGLE_B,
    jrnl_VANGLE_C,
    jrnl_IANGLE_A,
    jrnl_IANGLE_B,
    jrnl_IANGLE_C,
    jrnl_NIRMS,
    jrnl_NIRMSONE,
    jrnl_NIRMS1012,
    jrnl_NUM_REGS,
    jrnl_TOT_START = jrnl_NUM_REGS,
    jrnl_TOT_WATT = jrnl_NUM_REGS,
    jrnl_TOT_VA,
    jrnl_TOT_VAR,
    jrnl_TOT_PF,
    jrnl_TOT_FWATT,
    jrnl_TOT_FVA,
    jrnl_TOT_FVAR,
    jrnl_MAX,
    jrnl_NONE = 65535
};
static_assert(jrnl_NIRMS == 60 && jrnl_TOT_WATT == 63 && jrnl_MAX == 70, "journal layout");

#pragma pack(push, 1)

// One half-cycle record of the host's acquisition ring.
struct DATA_ACQ {
    uint32_t m_tvSeconds;
    uint32_t m_tvMicroSeconds;
    uint32_t m_ulLimitStatusBits;
    float m_fJournal[jrnl_MAX];
};

// Limit status bits of a record: a byte a phase (A in the lowest) with these
// bits, and the external trigger bit.
constexpr int LIMIT_BITS_PER_PHASE = 8;
constexpr uint32_t LIMIT_VOLTS_HIGH = 0x01, LIMIT_VOLTS_LOW = 0x02, LIMIT_AMPS_HIGH = 0x10,
                   LIMIT_AMPS_LOW = 0x20;
constexpr uint32_t LIMIT_EXTERNAL_TRIGGER = 0x80000000;

// Burst word -> journal value and register catalogue row (65535 = none).
struct BURST_READ_MAP_RECORD {
    uint16_t unJrnlIndex;
    uint16_t unRegDefIndex;
};

#pragma pack(pop)

static_assert(sizeof(DATA_ACQ) == 292, "DATA_ACQ is shared with the host by layout");
static_assert(sizeof(BURST_READ_MAP_RECORD) == 4, "burst map row");
