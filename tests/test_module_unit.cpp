// The module's classes reached directly, for behaviour the host interface
// does not show: chip set-up words, the status service's flags, the warm-up.
#include <cmath>

#include "ModuleFixture.h"
#include "ScratchFiles.h"

namespace {

// ACCMODE by wiring and nominal frequency (60 Hz strictly between 55 and 65),
// CONFIG0 and the integrator by the switches; VLEVEL scales the nominal voltage
// to 500 V full scale x 0.70710677 (1444084 x 353.553385 / 230) and saturates
// without one.
TEST_F(ModuleUnit, SetUpWordsFollowTheConfiguration) {
    const struct {
        uint16_t unWiring;
        float fNominalFreq, fNominalVolts;
        bool bHPFDisable, bMultipoint, bRogowski;
        uint32_t ulAccMode, ulConfig0, ulDICoeff, ulVLevel;
    } cases[] = {
        {5, 50.0f, 230, false, false, false, 0x0040, 0x0000, 0, 2219829},
        {4, 50.0f, 0, true, false, false, 0x00C0, 0x0008, 0, 0xFFFFFFFF},
        {3, 60.0f, 230, false, true, false, 0x0100, 0x0010, 0, 2219829},
        {4, 60.0f, 230, false, false, true, 0x01C0, 0x0820, 0xFFFFE000, 2219829},
        {0, 55.0f, 230, true, true, true, 0x0000, 0x0838, 0xFFFFE000, 2219829},
        {0, 55.1f, 230, false, false, false, 0x0100, 0, 0, 2219829},
        {0, 65.0f, 230, false, false, false, 0x0000, 0, 0, 2219829},
        {0, 64.9f, 230, false, false, false, 0x0100, 0, 0, 2219829},
    };
    m_module.m_fFullScaleVoltsCorrected = 500.0f;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.unWiring << ", " << c.fNominalFreq << " Hz");
        m_module.m_unWiring = c.unWiring;
        m_module.m_fNominalFreq = c.fNominalFreq;
        m_module.m_fNominalVolts = c.fNominalVolts;
        m_module.m_bHPFDisable = c.bHPFDisable;
        m_module.m_bMultipointEnable = c.bMultipoint;
        m_module.m_bRogowskiEnable = c.bRogowski;
        m_module.Configure9000Regs();
        EXPECT_EQ(lastWrite(reg9000::ACCMODE), c.ulAccMode);
        EXPECT_EQ(lastWrite(reg9000::CONFIG0), c.ulConfig0);
        EXPECT_EQ(lastWrite(reg9000::DICOEFF), c.ulDICoeff);
        EXPECT_EQ(lastWrite(reg9000::VLEVEL), c.ulVLevel);
    }
}

// Without a chip found, nothing reaches the bus.
TEST_F(ModuleUnit, InputRoutingWordsByOrderCode) {
    const uint32_t cases[][3] = {{0, 0, 0x1FFFFF}, {1, 3, 0x177E11}, {2, 2, 0x1E5FC1}, {5, 4, 0x13EE42},
                                 {3, 5, 0x135E3A}, {4, 1, 0x166E57}, {6, 0, 0x1FFFFF}, {0, 99, 0x1FFFFF}};
    for (const auto& c : cases) {
        m_module.m_nVoltageInputOrder = c[0];
        m_module.m_nCurrentInputOrder = c[1];
        m_module.updateInputs();
        EXPECT_EQ(lastWrite(reg9000::ADC_REDIRECT), c[2]) << c[0] << "," << c[1];
    }
    m_module.m_bFound = false;
    sim::clearSpiLog();
    m_module.updateInputs();
    m_module.Configure9000();
    EXPECT_TRUE(sim::spiLog().empty());
}

// Each status word is cleared by writing back what was read; STATUS1 is read
// only after an interrupt.
TEST_F(ModuleUnit, StatusBitsRaiseTheirHandOverFlags) {
    const struct {
        uint32_t ulStatus0, ulStatus1;
        bool bEnergy, bPower, bWaveform, bPhaseSequence;
    } cases[] = {{0x00000001, 0x00040200, true, false, false, true},
                 {0x00040000, 0x00000200, false, true, false, false},
                 {0x00800000, 0x00040000, false, false, true, true},
                 {0x00840001, 0xFFFBFFFF, true, true, true, false},
                 {0x7F3BFFFE, 0, false, false, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.ulStatus0);
        sim::advanceMillis(500);  // one report of a kind per half accumulation period
        m_module.m_bEnergyReady = m_module.m_bPowerReady = m_module.m_bGetWFB = false;
        sim::setChipRegister(reg9000::STATUS0, c.ulStatus0);
        sim::setChipRegister(reg9000::STATUS1, c.ulStatus1);
        isrIRQ1();
        m_module.processIRQ();
        EXPECT_EQ(m_module.m_bEnergyReady, c.bEnergy);
        EXPECT_EQ(m_module.m_bPowerReady, c.bPower);
        EXPECT_EQ(m_module.m_bGetWFB, c.bWaveform);
        EXPECT_EQ(m_block->s_bPhaseSequenceError, c.bPhaseSequence);
        EXPECT_EQ(sim::chipRegister(reg9000::STATUS0), 0u);
        EXPECT_EQ(sim::chipRegister(reg9000::STATUS1), 0u);
    }
}

// A ready bit that reads set on every call (stuck, or its write-1-to-clear
// lost) is believed twice a second at most, not on every call.
TEST_F(ModuleUnit, StuckReadyBitsAreBelievedOncePerHalfSecond) {
    sim::setStuckStatus(reg9000::STATUS0, STATUS0_EGYRDY | STATUS0_PWRRDY);
    int nEnergy = 0, nPower = 0;
    const std::string output = captureStdout([&] {
        for (int ms = 0; ms < 2000; ms += 10) {
            m_module.m_bEnergyReady = m_module.m_bPowerReady = false;
            m_module.processIRQ();
            nEnergy += m_module.m_bEnergyReady;
            nPower += m_module.m_bPowerReady;
            sim::advanceMillis(10);
        }
    });
    EXPECT_EQ(nEnergy, 4);
    EXPECT_EQ(nPower, 4);
    const std::string said = " report ignored, less than 500 msec after the last one\r\n";  // once per kind
    EXPECT_EQ(output, "STATUS0: energy-ready" + said + "STATUS0: power-ready" + said);
}

// A chip that reads all ones: STATUS0 is no status (no report believed, no
// write-back), the burst no measurement (every phase blanked and flagged),
// and the angles stay within a turn whatever the count.
TEST_F(ModuleUnit, ChipReadingAllOnesGivesNoValues) {
    float* pfJournal = m_module.m_pAcqBuffer->m_fJournal;
    std::fill(pfJournal, pfJournal + jrnl_MAX, 7.0f);
    m_block->s_unSignalValidFlags = 0x0077;
    sim::setBusFault(sim::BusFault::AbsentReadsOnes);
    sim::clearSpiLog();
    const std::string output = captureStdout([&] {
        for (int s = 0; s <= 60; s += 10, sim::advanceMillis(10000)) m_module.processIRQ();
    });
    const std::string message = "ADE9000 not answering: STATUS0 reads 0xFFFFFFFF\r\n";  // once a minute
    EXPECT_EQ(output, message + message);
    EXPECT_FALSE(m_module.m_bEnergyReady || m_module.m_bPowerReady || m_module.m_bGetWFB);
    EXPECT_TRUE(sim::spiWrites().empty());
    m_module.processPhasor();
    for (int q = jrnl_VANGLE_A; q <= jrnl_IANGLE_C; q++) EXPECT_TRUE(std::fabs(pfJournal[q]) < 360.0f) << q;
    EXPECT_FLOAT_EQ(pfJournal[jrnl_IANGLE_A], std::fmod(0xFFFF * m_module.m_fAngle_LSB, 360.0f));
    m_module.processValues();
    for (int q = 0; q < jrnl_MAX; q++) EXPECT_EQ(pfJournal[q], 0.0f) << q;
    EXPECT_EQ(m_block->s_unSignalValidFlags & 0x0077, 0);
}

TEST_F(ModuleUnit, MonitoringStartsWithTheFirstRecordAfterTwoSecondsWarmUp) {
    m_module.m_Accumulator.initialize();
    // Started when millis() wraps to 0, after 49.7 days of running.
    sim::advance((uint64_t{1} << 32) * 1000 - sim::nowMicros());
    m_module.monitorStart();
    const uint64_t ullStartMillis = uint64_t{1} << 32;
    ASSERT_EQ(m_module.m_ulMonitorWarmUp, 0u);
    auto closeRecordAt = [&](uint64_t ullMillis) {
        sim::advance(ullMillis * 1000 - sim::nowMicros());
        m_module.m_bHalfCycleReady = true;  // as if an interrupt had been accepted
        m_module.process();
    };
    closeRecordAt(ullStartMillis + 2000);
    EXPECT_FALSE(m_module.m_bMonitorOn);
    closeRecordAt(ullStartMillis + 2001);
    EXPECT_TRUE(m_module.m_bMonitorOn);
    m_module.monitorStop();
    EXPECT_FALSE(m_module.m_bMonitorOn);
}

// Re-arming the scope on a reader's thread and the capture's hand-over both
// change WFB_CFG by read, modify and write: each under the waveform lock.
TEST_F(ModuleUnit, WaveformBufferConfigChangesUnderTheWaveformLock) {
    int nUnlocked = 0, nAccesses = 0;
    sim::setFrameObserver([&](const sim::SpiFrame& frame) {
        if (frame.address != reg9000::WFB_CFG) return;
        nAccesses++;
        if (pthread_mutex_trylock(&g_mutexWaveform) == 0) {
            nUnlocked++;
            pthread_mutex_unlock(&g_mutexWaveform);
        }
    });
    m_module.m_bGetWFB = true;
    m_module.processWaveforms();
    std::vector<float> samples(768);
    EXPECT_EQ(m_module.realtimeGet(7, samples.data(), 0), 0);
    EXPECT_GE(nAccesses, 4);
    EXPECT_EQ(nUnlocked, 0);
}

}  // namespace

