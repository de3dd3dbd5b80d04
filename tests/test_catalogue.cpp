// Slips in the constant tables that every other test would pass: the simulated
// chip takes its widths from the catalogue, and the phases share one scale.
// Row order and count are compile-time checks.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "AccumulatorTables.h"
#include "Driver_ADE9000.h"
#include "JournalTables.h"
#include "Tables9000.h"

namespace {

TEST(Catalogue, RegistersFrom480To4FEAreSixteenBitsAllOthersThirtyTwo) {
    for (const ADE_REGISTER_DEFINITION& rd : g_rd9000RegisterDefs) {
        const uint16_t unAddress = rd.unAddress;  // packed fields: copied before gtest binds them
        const int nBits = rd.nSizeInBits;
        EXPECT_EQ(nBits, unAddress >= 0x480 && unAddress <= 0x4FE ? 16 : 32) << std::hex << unAddress;
    }
}

// The conversion each burst-fed journal quantity needs, by its phase-A index;
// phases B and C follow it, and powers of kind VA and VAR convert per phase.
const std::pair<uint16_t, int> kConversions[] = {
    {jrnl_VRMS_A, proc_VRMS},     {jrnl_FVRMS_A, proc_VRMS},    {jrnl_VRMS1_A, proc_VRMS},
    {jrnl_VRMS1012_A, proc_VRMS}, {jrnl_IRMS_A, proc_IRMS},     {jrnl_FIRMS_A, proc_IRMS},
    {jrnl_IRMS1_A, proc_IRMS},    {jrnl_IRMS1012_A, proc_IRMS}, {jrnl_WATT_A, proc_WATT},
    {jrnl_FWATT_A, proc_WATT},    {jrnl_VA_A, proc_VA_A},       {jrnl_FVA_A, proc_VA_A},
    {jrnl_VAR_A, proc_VAR_A},     {jrnl_FVAR_A, proc_VAR_A},    {jrnl_PF_A, proc_PF},
    {jrnl_VTHD_A, proc_THD},      {jrnl_ITHD_A, proc_THD}};

int processFor(int nJrnl) {
    if (nJrnl >= jrnl_NIRMS && nJrnl <= jrnl_NIRMS1012) return proc_IRMS;
    const int nPhase = nJrnl % 3;
    for (const auto& [unPhaseA, nProcess] : kConversions)
        if (nJrnl - nPhase == unPhaseA) return nProcess + (nProcess >= proc_VA_A ? nPhase : 0);
    return -1;  // frequencies, angles and totals are not burst words
}

// Every burst word that feeds a journal value converts the primary register the
// driver reads for that word, with the code that value needs; the 54 measured
// values (17 quantities x 3 phases, 3 neutral) are each fed exactly once.
TEST(BurstMap, EachJournalValueConvertsItsOwnBurstWordWithTheCodeItNeeds) {
    int nFeeds[jrnl_MAX] = {};
    for (int k = 0; k < BURST_READ_MAP_ROWS; ++k) {
        const BURST_READ_MAP_RECORD& mr = g_mrBurstReadMap[k];
        const uint16_t unJrnl = mr.unJrnlIndex, unRow = mr.unRegDefIndex;
        SCOPED_TRACE("word " + std::to_string(k));
        if (unJrnl == BURST_MAP_NONE) continue;
        ASSERT_LT(k, BURST_WORDS);
        ASSERT_LT(unRow, REGISTER_DEFS_ROWS);
        ASSERT_LT(unJrnl, jrnl_NUM_REGS);
        nFeeds[unJrnl]++;
        const uint16_t unAddress = g_rd9000RegisterDefs[unRow].unAddress;  // packed
        const int nProcess = g_rd9000RegisterDefs[unRow].uProcess;
        EXPECT_EQ(unAddress, g_readTable[k]);
        EXPECT_EQ(nProcess, processFor(unJrnl)) << "journal value " << unJrnl;
    }
    for (int j = 0; j < jrnl_NUM_REGS; ++j)
        EXPECT_EQ(nFeeds[j], processFor(j) < 0 ? 0 : 1) << "journal " << j;
}

// Per phase and quantity (WATT, VAR, VA, FWATT, FVAR, FVA) the chip keeps
// _ACC, HR_LO, HR_HI in a row, quantities 0x0A apart and phases 0x3C.
TEST(EnergyTable, EnergyRowsNameHrHiAndHrLoAndDemandRowsTheAccRegister) {
    for (int q = 0; q < accum_ENERGY_NUM_REGS; ++q) {
        const int nHi = 0x2E7 + 0x3C * (q % 3) + 0x0A * (q / 3);
        const ENERGY_READ_DESCRIPTION& e = g_engDesc[q];
        const ENERGY_READ_DESCRIPTION& d = g_engDesc[accum_ENERGY_MAX + q];
        EXPECT_EQ((std::vector<int>{e.unAddressHi, e.unAddressLo, d.unAddressHi, d.unAddressLo}),
                  (std::vector<int>{nHi, nHi - 1, ENERGY_ADDRESS_NONE, nHi - 2}))
            << "quantity " << q;
    }
}

}  // namespace
