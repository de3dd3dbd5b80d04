// Slips in the constant tables that every other test would pass: the simulated
// chip takes its widths from the catalogue, and the phases share one scale.
// Row order and count are compile-time checks.
#include <gtest/gtest.h>

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

// The conversion each burst-fed journal value needs, by its phase-A index (VA and VAR
// per phase); neutral currents as currents; frequencies, angles and totals none (-1).
int processFor(int nJrnl) {
    static const std::pair<int, int> kConversions[] = {
        {jrnl_VRMS_A, proc_VRMS},     {jrnl_FVRMS_A, proc_VRMS},    {jrnl_VRMS1_A, proc_VRMS},
        {jrnl_VRMS1012_A, proc_VRMS}, {jrnl_IRMS_A, proc_IRMS},     {jrnl_FIRMS_A, proc_IRMS},
        {jrnl_IRMS1_A, proc_IRMS},    {jrnl_IRMS1012_A, proc_IRMS}, {jrnl_WATT_A, proc_WATT},
        {jrnl_FWATT_A, proc_WATT},    {jrnl_VA_A, proc_VA_A},       {jrnl_FVA_A, proc_VA_A},
        {jrnl_VAR_A, proc_VAR_A},     {jrnl_FVAR_A, proc_VAR_A},    {jrnl_PF_A, proc_PF},
        {jrnl_VTHD_A, proc_THD},      {jrnl_ITHD_A, proc_THD}};
    if (nJrnl >= jrnl_NIRMS && nJrnl <= jrnl_NIRMS1012) return proc_IRMS;
    for (const auto& [nPhaseA, nProcess] : kConversions)
        if (nJrnl - nJrnl % 3 == nPhaseA) return nProcess + (nProcess >= proc_VA_A ? nJrnl % 3 : 0);
    return -1;
}

// Every burst word that feeds a journal value converts the primary register the
// driver reads for that word, with the code that value needs; the 54 measured
// values (17 quantities x 3 phases, 3 neutral) are each fed exactly once.
TEST(BurstMap, EachJournalValueConvertsItsOwnBurstWordWithTheCodeItNeeds) {
    int nFeeds[jrnl_MAX] = {};
    for (int k = 0; k < BURST_READ_MAP_ROWS; ++k) {
        const uint16_t unJrnl = g_mrBurstReadMap[k].unJrnlIndex, unRow = g_mrBurstReadMap[k].unRegDefIndex;
        if (unJrnl == BURST_MAP_NONE) continue;
        ASSERT_TRUE(k < BURST_WORDS && unRow < REGISTER_DEFS_ROWS && unJrnl < jrnl_NUM_REGS) << "word " << k;
        nFeeds[unJrnl]++;
        EXPECT_EQ(uint16_t{g_rd9000RegisterDefs[unRow].unAddress}, g_readTable[k]) << "word " << k;
        EXPECT_EQ(int{g_rd9000RegisterDefs[unRow].uProcess}, processFor(unJrnl))
            << "journal value " << unJrnl;
    }
    for (int j = 0; j < jrnl_NUM_REGS; ++j)
        EXPECT_EQ(nFeeds[j], processFor(j) < 0 ? 0 : 1) << "journal " << j;
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
