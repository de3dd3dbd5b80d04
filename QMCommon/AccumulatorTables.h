// Energy and demand quantities of one accumulation interval.
#pragma once

#include <cstdint>
#include <ctime>

enum ePowerAccum : uint16_t {
    accum_AWATT_ACC = 0,
    accum_BWATT_ACC,
    accum_CWATT_ACC,
    accum_AVAR_ACC,
    accum_BVAR_ACC,
    accum_CVAR_ACC,
    accum_AVA_ACC,
    accum_BVA_ACC,
    accum_CVA_ACC,
    accum_AFWATT_ACC,
    accum_BFWATT_ACC,
    accum_CFWATT_ACC,
    accum_AFVAR_ACC,
    accum_BFVAR_ACC,
    accum_CFVAR_ACC,
    accum_AFVA_ACC,
    accum_BFVA_ACC,
    accum_CFVA_ACC,
    accum_NUM_REGS,
    accum_TOT_START = accum_NUM_REGS,
    accum_TOT_WATT_ACC = accum_NUM_REGS,
    accum_TOT_VAR_ACC,
    accum_TOT_VA_ACC,
    accum_TOT_FWATT_ACC,
    accum_TOT_FVAR_ACC,
    accum_TOT_FVA_ACC,
    accum_POWER_MAX,
    accum_POWER_NONE = 255
};

enum eEnergyAccum : uint16_t {
    accum_AWATTHR = 0,
    accum_BWATTHR,
    accum_CWATTHR,
    accum_AVARHR,
    accum_BVARHR,
    accum_CVARHR,
    accum_AVAHR,
    accum_BVAHR,
    accum_CVAHR,
    accum_AFWATTHR,
    accum_BFWATTHR,
    accum_CFWATTHR,
    accum_AFVARHR,
    accum_BFVARHR,
    accum_CFVARHR,
    accum_AFVAHR,
    accum_BFVAHR,
    accum_CFVAHR,
    accum_ENERGY_NUM_REGS,
    accum_TOT_ENERGY_START = accum_ENERGY_NUM_REGS,
    accum_TOT_WATTHR = accum_ENERGY_NUM_REGS,
    accum_TOT_VARHR,
    accum_TOT_VAHR,
    accum_TOT_FWATTHR,
    accum_TOT_FVARHR,
    accum_TOT_FVAHR,
    accum_ENERGY_MAX,
    accum_ENERGY_NONE = 255
};
static_assert(accum_POWER_MAX == 24 && accum_ENERGY_MAX == 24, "24 quantities per interval");

#pragma pack(push, 1)

// One interval record; the host reads the completed one through s_pLastAccumulator.
struct ACCUMULATOR_DATA {
    time_t m_ttStartTime;
    uint16_t m_9000AccumCount;
    uint16_t m_9000DemandCount;
    float m_fDemandMax[accum_POWER_MAX];
    float m_fDemandAvg[accum_POWER_MAX];
    float m_fEnergyAccum[accum_ENERGY_MAX];
    float m_fEnergyTotal[accum_ENERGY_MAX];
};

// One energy/demand quantity: the chip registers it is read from (0xFFFF = none)
// and its display name.
struct ENERGY_READ_DESCRIPTION {
    uint16_t unAddressHi;
    uint16_t unAddressLo;
    char pszAbbrev[40];
};

#pragma pack(pop)

static_assert(sizeof(ENERGY_READ_DESCRIPTION) == 44, "energy table row");
