// The measurement engine's steps reached directly.
#include <cmath>
#include <cstring>
#include <vector>

#include "ModuleFixture.h"
#include "Tables9000.h"

namespace {

class Engine : public ModuleUnit {
protected:
    void SetUp() override {
        ModuleUnit::SetUp();
        m_module.m_fVHigh = 250.0f;
        m_module.m_fVLow = 200.0f;
        m_module.m_fIHigh = 20.0f;
        m_module.m_fILow = 1.0f;
        m_module.m_unPreTrigCycles = 10;
        m_module.m_unTotalTrigCycles = 100;
    }

    // Phase p: watts, VA, VAR and half of each as the fundamental.
    void setPowers(int p, float fWatt, float fVA, float fVAR) {
        journal()[jrnl_WATT_A + p] = fWatt;
        journal()[jrnl_VA_A + p] = fVA;
        journal()[jrnl_VAR_A + p] = fVAR;
        journal()[jrnl_FWATT_A + p] = fWatt / 2;
        journal()[jrnl_FVA_A + p] = fVA / 2;
        journal()[jrnl_FVAR_A + p] = fVAR / 2;
    }
    void setOneCycle(float fVolts, float fAmps) {
        for (int p = 0; p < 3; p++) {
            journal()[jrnl_VRMS1_A + p] = fVolts;
            journal()[jrnl_IRMS1_A + p] = fAmps;
        }
    }
    // One record's limit check, as the process cycle runs it, then the ring moves on.
    uint32_t checkRecord(uint16_t unNextIn) {
        m_block->s_unAcqBufferNextIn = unNextIn;
        m_module.processEvents();
        return m_module.m_pAcqBuffer->m_ulLimitStatusBits;
    }
    bool windowOpen() { return m_block->s_unAcqBufferNextWrite != m_block->s_unAcqBufferLastWrite; }
    void writerDone() { m_block->s_unAcqBufferNextWrite = m_block->s_unAcqBufferLastWrite; }
};

// Inconsistent phases: wye sums each quantity, delta derives VA from W and VAR;
// no wiring keeps the totals but derives PF (not dividing by 0 VA); unknown: nothing.
TEST_F(Engine, TotalsFollowTheWiring) {
    const struct {
        uint16_t unWiring;
        float fWatt, fVA, fVAR, fFVA, fPF;
    } cases[] = {
        {1, 1000, 1000, 1000, 500, 1.0f},
        {2, 3000, 3000, 4000, 1500, 1.0f},           // A + C
        {3, 5000, 5500, 5500, 2750, 5000 / 5500.f},  // A + B + C
        {4, 3000, 5000, 4000, 2500, 0.6f},
        {5, 3000, 5000, 4000, 2500, 0.6f},  // sqrt(3000^2 + 4000^2)
        {0, 600, 0, 700, 800, 0.0f},
        {6, 600, 0, 700, 800, 0.25f},
    };
    for (const auto& c : cases) {
        m_module.m_unWiring = c.unWiring;
        setPowers(0, 1000, 1000, 1000);
        setPowers(1, 2000, 2500, 1500);
        setPowers(2, 2000, 2000, 3000);
        const float fPreset[] = {600, 0, 700, 300, 800, 0.25f};
        const int nTotals[] = {jrnl_TOT_WATT,  jrnl_TOT_VA,  jrnl_TOT_VAR,
                               jrnl_TOT_FWATT, jrnl_TOT_FVA, jrnl_TOT_PF};
        for (int i = 0; i < 6; i++) journal()[nTotals[i]] = fPreset[i];
        m_module.processRecordTotals();
        const float fExpected[] = {c.fWatt, c.fVA, c.fVAR, c.fWatt / 2, c.fFVA, c.fPF};
        for (int i = 0; i < 6; i++)
            EXPECT_FLOAT_EQ(journal()[nTotals[i]], fExpected[i]) << c.unWiring << " " << i;
    }
}

TEST_F(Engine, PhaseWithoutVoltageIsBlankedAndFlagged) {
    for (int i = 0; i < jrnl_MAX; i++) journal()[i] = 7.0f;
    journal()[jrnl_VRMS_A] = 230.0f;
    journal()[jrnl_VRMS_B] = 25.0f;  // at the noise floor: not above it
    journal()[jrnl_VRMS_C] = 26.0f;
    journal()[jrnl_IRMS_A] = 0.01f;  // at the current floor
    journal()[jrnl_IRMS_B] = 5.0f;
    journal()[jrnl_IRMS_C] = 0.02f;
    m_block->s_unSignalValidFlags = 0x0402;  // an unrelated bit survives
    m_module.processValuesValidateInputs();
    EXPECT_EQ(m_block->s_unSignalValidFlags, 0x0400 | 0x0001 | 0x0004 | 0x0040);  // B's current falls too
    for (int q = 0; q < 20; q++) {
        EXPECT_EQ(journal()[3 * q + 1], 0.0f) << "phase B value " << q;
        EXPECT_TRUE(journal()[3 * q] != 0.0f && journal()[3 * q + 2] != 0.0f) << "phases A, C value " << q;
    }
    EXPECT_EQ(journal()[jrnl_NIRMS], 7.0f);  // neutral values are not tested
}

TEST_F(Engine, ReversePowerFlagFollowsTheSumOfThePhases) {
    const struct {
        float fWatts[3];
        bool bReverse;
    } cases[] = {
        {{100, 100, 100}, false}, {{-100, 50, 49}, true}, {{-100, 50, 50}, false}, {{0, 0, -1}, true}};
    for (const auto& c : cases) {
        std::copy(c.fWatts, c.fWatts + 3, journal() + jrnl_WATT_A);
        m_module.processValuesEnergyDirection();
        EXPECT_EQ((m_block->s_unSignalValidFlags & SIGNAL_REVERSE_POWER) != 0, c.bReverse) << c.fWatts[2];
    }
}

// Each energy pair is read low word first, then the high word it latches.
TEST_F(Engine, EnergyPairsAreReadLowThenHigh) {
    std::vector<uint16_t> expected;
    for (int k = 0; k < accum_ENERGY_NUM_REGS; k++)
        if (g_engDesc[k].unAddressHi != ENERGY_ADDRESS_NONE)
            expected.insert(expected.end(), {g_engDesc[k].unAddressLo, g_engDesc[k].unAddressHi});
    sim::clearSpiLog();
    m_module.processEnergy();
    std::vector<uint16_t> reads;
    for (const sim::SpiFrame& frame : sim::spiLog()) reads.push_back(frame.address);
    EXPECT_EQ(reads, expected);
}

// The limit is compared with the total watt peak (2760 W), not the VA peak (3450).
TEST_F(Engine, DemandOverLimitFollowsTheTotalWattPeak) {
    m_module.m_unWiring = 3;
    const uint32_t ulW = std::lround(920.0f / m_module.m_fPMAX_LSB),
                   ulVA = std::lround(1150.0f / m_module.m_fPMAX_LSB);
    for (int p = 0; p < 3; p++) {
        sim::setChipRegister(g_engDesc[accum_POWER_MAX + accum_AWATT_ACC + p].unAddressLo, ulW);
        sim::setChipRegister(g_engDesc[accum_POWER_MAX + accum_AVA_ACC + p].unAddressLo, ulVA);
    }
    const struct {
        float fLimit;
        bool bOver;
    } cases[] = {{3000.0f, false}, {2700.0f, true}, {0.0f, false}};
    for (const auto& c : cases) {
        m_module.m_Accumulator.initialize();
        m_module.m_fDemandLimit = c.fLimit;
        m_module.processDemand();
        EXPECT_EQ((m_block->s_unSignalValidFlags & SIGNAL_DEMAND_OVER_LIMIT) != 0, c.bOver) << c.fLimit;
    }
    EXPECT_NEAR(m_module.m_Accumulator.getWorkingInterval()->m_fDemandMax[accum_TOT_VA_ACC], 3450.0f, 0.5f);
}

TEST_F(Engine, WindowStatusBitsByPhaseAndLimit) {
    const struct {
        uint32_t ulEnable;
        int nPhase;
        float fVolts, fAmps;
        uint32_t ulStatus;
    } cases[] = {
        {0x000001, 0, 251, 5, 0x000001},    {0x000001, 0, 250, 5, 0},  // strictly above
        {0x000200, 1, 199, 5, 0x000200},    {0x100000, 2, 230, 21, 0x100000},
        {0x002000, 1, 230, 0.5f, 0x002000}, {0x000000, 0, 1000, 100, 0},  // disabled limits never fire
        {0x333333, 2, 0, 0, 0x220000},  // a blanked phase reads 0 V: voltage and current low
    };
    for (const auto& c : cases) {
        m_module.m_ulLimitEnable = c.ulEnable;
        m_module.m_bTriggered = false;
        setOneCycle(230.0f, 5.0f);
        journal()[jrnl_VRMS1_A + c.nPhase] = c.fVolts;
        journal()[jrnl_IRMS1_A + c.nPhase] = c.fAmps;
        EXPECT_EQ(checkRecord(5), c.ulStatus) << std::hex << c.ulEnable;
        EXPECT_EQ(uint32_t{m_block->s_ulLimitStatusBits}, c.ulStatus);
        writerDone();
    }
}

// A trigger start while the writer is busy updates the last event only; an end is dropped.
TEST_F(Engine, WindowOpensOnceAtStartAndOnceAtEnd) {
    m_module.m_ulLimitEnable = 0x010101;
    m_module.m_pAcqBuffer->m_tvSeconds = 1700000123;
    setOneCycle(260.0f, 5.0f);
    checkRecord(5);
    ASSERT_TRUE(windowOpen());
    EXPECT_EQ(m_block->s_unAcqBufferNextWrite, 4090);  // 5 - 10 - 1, modulo 4096
    EXPECT_EQ(m_block->s_unAcqBufferLastWrite, 95);    // 4090 + 100 + 1
    EXPECT_EQ(int64_t{m_block->s_eiLastEventInfo.ttEvent}, 1700000123);
    EXPECT_EQ(uint32_t{m_block->s_eiLastEventInfo.ulLimitStatus}, 0x010101u);
    writerDone();
    for (uint16_t n = 6; n < 60; n++) checkRecord(n);  // the swell lasts
    EXPECT_FALSE(windowOpen());
    setOneCycle(230.0f, 5.0f);
    checkRecord(60);
    EXPECT_EQ(m_block->s_unAcqBufferNextWrite, 49);
    EXPECT_EQ(m_block->s_unAcqBufferLastWrite, 150);
    m_block->s_eiLastEventInfo.ulLimitStatus = 0;
    m_module.m_ulLimitEnable = 0x01;
    setOneCycle(260.0f, 5.0f);
    checkRecord(61);
    EXPECT_EQ(uint32_t{m_block->s_eiLastEventInfo.ulLimitStatus}, 0x01u);
    setOneCycle(230.0f, 5.0f);
    checkRecord(62);
    EXPECT_FALSE(m_module.m_bTriggered);
    EXPECT_EQ(m_block->s_unAcqBufferNextWrite, 49);
    EXPECT_EQ(m_block->s_unAcqBufferLastWrite, 150);
    writerDone();  // a realtime trigger marks one record
    EXPECT_EQ(m_module.realtimeGet(13, nullptr, 0), 0);
    EXPECT_EQ(checkRecord(63), 0x80000000u);
    EXPECT_TRUE(windowOpen());
    EXPECT_TRUE(m_module.m_bTriggered);
    writerDone();
    EXPECT_EQ(checkRecord(64), 0u);  // the trigger ends on the next record
    EXPECT_TRUE(windowOpen());
    EXPECT_FALSE(m_module.m_bTriggered);
}

int64_t at(int nHour, int nMinute, int nSecond) {  // in a UTC day
    return 1700000000 / 86400 * 86400 + nHour * 3600 + nMinute * 60 + nSecond;
}

TEST_F(Engine, IntervalsAlignToTheWallClockAndSwitchAfterTheirEnd) {
    CAccumulator& accumulator = m_module.m_Accumulator;
    sim::setWallClock(at(10, 7, 30), 0);
    accumulator.updateConfig(true, 0);  // a zero length would divide by zero aligning
    accumulator.start();
    EXPECT_FALSE(accumulator.isOn());
    accumulator.updateConfig(true, 15);
    accumulator.start();
    ASSERT_TRUE(accumulator.isOn());
    EXPECT_EQ(accumulator.m_ttEndInterval, at(10, 30, 0));

    float fEnergy[accum_ENERGY_NUM_REGS] = {2.5f}, fPower[accum_NUM_REGS] = {900.0f};  // phase A
    bool bRead[accum_POWER_MAX] = {true};
    for (int n = 0; n < 5; n++) accumulator.addEnergy(fEnergy, bRead);
    accumulator.addDemand(fPower, bRead);
    sim::setWallClock(at(10, 30, 0), 0);
    accumulator.process();  // not later than the end yet
    EXPECT_EQ(accumulator.m_ttEndInterval, at(10, 30, 0));
    sim::setWallClock(at(10, 30, 1), 0);
    accumulator.process();
    const ACCUMULATOR_DATA *pCompleted = accumulator.getCompletedInterval(),
                           *pWorking = accumulator.getWorkingInterval();
    EXPECT_EQ(int64_t{pCompleted->m_ttStartTime}, at(10, 30, 0));
    EXPECT_EQ(accumulator.m_ttEndInterval, at(10, 45, 0));
    EXPECT_EQ(pWorking->m_fDemandMax[accum_AWATT_ACC], 0.0f);
    EXPECT_EQ(pCompleted->m_fEnergyAccum[accum_AWATTHR], 12.5f);
    EXPECT_EQ(pCompleted->m_9000AccumCount, 5);
    accumulator.addEnergy(fEnergy, bRead);  // the running total goes on from the carried one
    EXPECT_EQ(pWorking->m_fEnergyTotal[accum_AWATTHR], 15.0f);
    EXPECT_EQ(pWorking->m_fEnergyAccum[accum_AWATTHR], 2.5f);
}

// 920 W for 256 days in one-second updates, daily intervals: a float running total
// would stick near 4,194,304 Wh; a 16-bit demand count would wrap (NaN average).
TEST_F(Engine, RunningEnergyAndDailyDemandOverMonths) {
    CAccumulator& accumulator = m_module.m_Accumulator;
    float fEnergy[accum_POWER_MAX] = {920.0f / 3600.0f}, fPower[accum_POWER_MAX] = {};  // phase A
    bool bEnergyRead[accum_POWER_MAX] = {true}, bPowerRead[accum_POWER_MAX] = {};
    bPowerRead[accum_AWATT_ACC] = bPowerRead[accum_BWATT_ACC] = true;
    constexpr int DAYS = 256;
    for (int nDay = 0; nDay < DAYS; nDay++) {
        for (int s = 0; s < 86400; s++) {
            accumulator.addEnergy(fEnergy, bEnergyRead);
            if (nDay > 0) continue;
            fPower[accum_AWATT_ACC] = s % 2 ? 3000.0f : 1000.0f;
            fPower[accum_BWATT_ACC] = s < 21600 ? 0.0f : 600.0f;  // a load switched on after six hours
            accumulator.addDemand(fPower, bPowerRead);
        }
        const ACCUMULATOR_DATA* pWorking = accumulator.getWorkingInterval();
        ASSERT_EQ(pWorking->m_9000AccumCount, 65535) << "saturates instead of wrapping";
        ASSERT_NEAR(pWorking->m_fEnergyAccum[accum_AWATTHR], 86400 * double(fEnergy[0]), 1e-3);
        if (nDay == 0) {
            EXPECT_FLOAT_EQ(pWorking->m_fDemandAvg[accum_AWATT_ACC], 2000.0f);
            EXPECT_FLOAT_EQ(pWorking->m_fDemandAvg[accum_BWATT_ACC], 450.0f);
            EXPECT_FLOAT_EQ(pWorking->m_fDemandMax[accum_AWATT_ACC], 3000.0f);
            EXPECT_EQ(pWorking->m_9000DemandCount, 65535);
        }
        accumulator.switchInterval();
    }
    const double dTruth = double(DAYS) * 86400 * double(fEnergy[accum_AWATTHR]);
    EXPECT_NEAR(accumulator.getWorkingInterval()->m_fEnergyTotal[accum_AWATTHR], dTruth, dTruth * 1e-7);
}

TEST_F(Engine, UnknownCodesAndSmallBuffersWriteNothing) {
    std::vector<uint8_t> buffer(4096, 0xA5);
    for (int nType : {3, 12, -1, 14, 1000})
        EXPECT_EQ(m_module.realtimeGet(nType, buffer.data(), 4096), 2) << nType;
    const std::pair<int, uint32_t> sizes[] = {{0, 252},  {4, 252},  {2, 24},  {5, 288},
                                              {10, 472}, {1, 3072}, {7, 3072}};
    for (const auto& [nType, ulSize] : sizes)
        EXPECT_EQ(m_module.realtimeGet(nType, buffer.data(), ulSize - 1), 3) << nType;
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xA5), 4096);
    EXPECT_FALSE(m_module.m_bScopeRequested);  // a refused arm request arms nothing
    EXPECT_EQ(m_module.realtimeGet(0, buffer.data(), 0), 0);
    EXPECT_EQ(m_module.realtimeGet(10, buffer.data(), 472), 0);
}

// Less the offset counts, each channel's offset (low 16 bits) and ratio; 1 V per count.
TEST_F(Engine, SnapshotSamplesConvertWithOffsetsAndRatios) {
    m_module.m_fFullScaleVoltsCorrected = 18196.0f;
    m_module.m_fFullScaleAmps = 18196.0f / 3.003003003003003;
    m_module.m_unWaveformDisplayIndex = 1;
    m_module.m_unWaveforms[1][1][0] = 0xFFFF;  // voltage A
    m_module.m_unWaveforms[1][0][0] = 0x8000;  // current A
    m_module.m_unWaveforms[1][3][5] = 100;     // voltage B
    m_module.m_ulWFBCalOffset[3] = 0x10005;
    m_module.m_fWFBCalRatio[3] = 0.5f;
    m_module.m_unWaveforms[1][2][7] = 100;  // current B
    m_module.m_ulWFBCalOffset[2] = 1;
    m_module.m_nWFBOSCounts = 2;
    m_module.m_bWaveformUpdated = true;
    std::vector<float> fSamples(768, 99.0f);
    ASSERT_EQ(m_module.realtimeGet(1, fSamples.data(), 3072), 0);
    EXPECT_FLOAT_EQ(fSamples[0], -3.0f);
    EXPECT_FLOAT_EQ(fSamples[1], -2.0f);
    EXPECT_FLOAT_EQ(fSamples[384], -32768.0f);
    EXPECT_FLOAT_EQ(fSamples[128 + 5], (100 + 5 - 2) * 0.5f);
    EXPECT_FLOAT_EQ(fSamples[384 + 128 + 7], 101.0f);
    EXPECT_EQ(m_module.realtimeGet(1, fSamples.data(), 0), 3);  // each snapshot is delivered once
}

}  // namespace
