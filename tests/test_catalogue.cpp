// Slips in the constant tables that every other test would pass: the simulated
// chip takes its widths from the catalogue, and the phases share one scale.
// Row order and count are compile-time checks.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "AccumulatorTables.h"
#include "Driver_ADE9000.h"
#include "JournalTables.h"
#include "JournalTables9000.h"
#include "Tables9000.h"

namespace {

TEST(Catalogue, RegistersFrom480To4FEAreSixteenBitsAllOthersThirtyTwo) {
    for (const ADE_REGISTER_DEFINITION& rd : g_rd9000RegisterDefs) {
        const uint16_t unAddress = rd.unAddress;  // packed fields: copied before gtest binds them
        EXPECT_EQ(int{rd.nSizeInBits}, unAddress >= 0x480 && unAddress <= 0x4FE ? 16 : 32)
            << std::hex << unAddress;
    }
}

std::string nameOf(const ADE_REGISTER_DEFINITION& rd) {
    return std::string(rd.pszName, strcspn(rd.pszName, " "));
}

// Frequencies and angles come from other registers; every other journal value is fed
// by exactly one burst word, converted by the catalogue row of the register the driver
// reads for that word: the register named after the value's quantity, in one phase
// below; the other phases (quantity q of phase p at 3q + p) take the same register of
// their own phase with the same conversion, but apparent and reactive power, converted
// per phase. The period registers, outside the burst, convert to frequencies.
TEST(BurstMap, EachMeasuredValueIsFedOnceByTheRegisterNamedAfterItWithItsConversion) {
    const std::tuple<int, const char*, int> examples[] = {
        {jrnl_IRMS_A, "AIRMS", proc_IRMS},         {jrnl_VRMS_B, "BVRMS", proc_VRMS},
        {jrnl_WATT_C, "CWATT", proc_WATT},         {jrnl_VA_B, "BVA", proc_VA_B},
        {jrnl_VAR_C, "CVAR", proc_VAR_C},          {jrnl_PF_A, "APF", proc_PF},
        {jrnl_VTHD_B, "BVTHD", proc_THD},          {jrnl_ITHD_C, "CITHD", proc_THD},
        {jrnl_FVRMS_A, "AVFRMS", proc_VRMS},       {jrnl_FIRMS_B, "BIFRMS", proc_IRMS},
        {jrnl_FWATT_C, "CFWATT", proc_WATT},       {jrnl_FVA_A, "AFVA", proc_VA_A},
        {jrnl_FVAR_B, "BFVAR", proc_VAR_B},        {jrnl_VRMS1_C, "CVRMSONE", proc_VRMS},
        {jrnl_IRMS1_A, "AIRMSONE", proc_IRMS},     {jrnl_VRMS1012_B, "BVRMS1012", proc_VRMS},
        {jrnl_IRMS1012_C, "CIRMS1012", proc_IRMS}, {jrnl_NIRMS, "NIRMS", proc_IRMS},
        {jrnl_NIRMSONE, "NIRMSONE", proc_IRMS},    {jrnl_NIRMS1012, "NIRMS1012", proc_IRMS},
        {jrnl_NONE, "APERIOD", proc_PERIOD},       {jrnl_NONE, "CPERIOD", proc_PERIOD}};
    std::map<std::string, std::pair<int, int>> registers;  // name: journal value fed, conversion
    for (const ADE_REGISTER_DEFINITION& rd : g_rd9000RegisterDefs)
        registers[nameOf(rd)] = {jrnl_NONE, rd.uProcess};
    int nFeeds[jrnl_NUM_REGS] = {};
    for (int k = 0; k < BURST_READ_MAP_ROWS; ++k) {
        const uint16_t unJrnl = g_mrBurstReadMap[k].unJrnlIndex, unRow = g_mrBurstReadMap[k].unRegDefIndex;
        if (unJrnl == BURST_MAP_NONE) continue;
        ASSERT_TRUE(k < BURST_WORDS && unRow < REGISTER_DEFS_ROWS && unJrnl < jrnl_NUM_REGS) << "word " << k;
        nFeeds[unJrnl]++;
        EXPECT_EQ(uint16_t{g_rd9000RegisterDefs[unRow].unAddress}, g_readTable[k]) << "word " << k;
        registers[nameOf(g_rd9000RegisterDefs[unRow])].first = unJrnl;
    }
    for (int j = 0; j < jrnl_NUM_REGS; ++j) {
        const bool bElsewhere = j <= jrnl_FREQ_C || (j >= jrnl_VANGLE_A && j <= jrnl_IANGLE_C);
        EXPECT_EQ(nFeeds[j], bElsewhere ? 0 : 1) << "journal " << j;
    }
    for (const auto& [nJrnl, pszName, nProcess] : examples) {
        const bool bPhases = nJrnl < jrnl_NIRMS;  // neither neutral nor outside the burst
        const int nOwn = bPhases ? nJrnl % 3 : 0;
        for (int p = 0; p < (bPhases ? 3 : 1); ++p) {
            const std::string name = bPhases ? char('A' + p) + std::string(pszName + 1) : pszName;
            EXPECT_EQ(registers.count(name) ? registers.at(name) : std::make_pair(-1, -1),
                      std::make_pair(nJrnl + p - nOwn, nProcess + (nProcess >= proc_VA_A ? p - nOwn : 0)))
                << name;
        }
    }
}

// Per phase and quantity (WATT, VAR, VA, FWATT, FVAR, FVA) the chip keeps
// _ACC, HR_LO, HR_HI in a row, quantities 0x0A apart and phases 0x3C.
TEST(EnergyTable, EnergyRowsNameHrHiAndHrLoAndDemandRowsTheAccRegister) {
    for (int q = 0; q < accum_ENERGY_NUM_REGS; ++q) {
        const int nHi = 0x2E7 + 0x3C * (q % 3) + 0x0A * (q / 3);
        const ENERGY_READ_DESCRIPTION &e = g_engDesc[q], &d = g_engDesc[accum_ENERGY_MAX + q];
        EXPECT_EQ((std::vector<int>{e.unAddressHi, e.unAddressLo, d.unAddressHi, d.unAddressLo}),
                  (std::vector<int>{nHi, nHi - 1, ENERGY_ADDRESS_NONE, nHi - 2}))
            << "quantity " << q;
    }
}

}  // namespace
