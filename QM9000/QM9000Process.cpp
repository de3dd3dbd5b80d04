// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// The interrupt routine and the per-call work of process: status service,
// half-cycle records and the watchdogs.
#include <sys/time.h>

#include "BoardIO.h"
#include "QM9000.h"
#include "qm_timer.h"

std::atomic<bool> g_bIRQ1{false};
std::atomic<uint32_t> g_ulLastIRQ{0};
uint32_t g_ulPrevIRQ = 0;
uint32_t g_ulNow = 0;
DATA_ACQ* g_pAcqBuffer = nullptr;
pthread_cond_t g_condPMUReady = PTHREAD_COND_INITIALIZER;
pthread_mutex_t g_mutexWaveform = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t g_mutexStatus0 = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t g_mutexStatus1 = PTHREAD_MUTEX_INITIALIZER;

namespace {
// An interrupt starts a record when it comes more than three quarters of the
// nominal half-cycle after the last one that did: one record per half-cycle,
// whatever the grid's drift and the interrupt thread's latency.
constexpr uint32_t HALF_CYCLE_GATE_50HZ_MICROS = 7500;
constexpr uint32_t HALF_CYCLE_GATE_60HZ_MICROS = 6250;
constexpr uint32_t WARM_UP_MILLIS = 2001;  // monitoring starts after this
constexpr uint32_t WAVEFORM_WATCHDOG_MILLIS = 10000;
constexpr uint32_t IRQ1_WATCHDOG_MILLIS = 250;  // no IRQ1 for this long: clear STATUS1
constexpr int32_t MICROS_PER_SECOND = 1000000;
constexpr uint32_t NOT_ANSWERING_MESSAGE_MILLIS = 60000;
}  // namespace

// Runs on the board's interrupt thread: two stores, no chip access.
void isrIRQ1() {
    g_ulLastIRQ.store(clk_count(), std::memory_order_relaxed);
    g_bIRQ1.store(true, std::memory_order_release);
}

void QM9000::processIRQ() {
    if (g_bIRQ1.load(std::memory_order_acquire)) {
        m_ADE9000.readReg(reg9000::STATUS1, m_ADE9000.m_ulStatus1);
        const uint32_t ulLastIRQ = g_ulLastIRQ.load(std::memory_order_relaxed);
        const uint32_t ulGate = (m_fNominalFreq > 55.0f && m_fNominalFreq < 65.0f)
                                    ? HALF_CYCLE_GATE_60HZ_MICROS
                                    : HALF_CYCLE_GATE_50HZ_MICROS;
        if (ulLastIRQ - g_ulPrevIRQ > ulGate) {
            g_ulPrevIRQ = ulLastIRQ;
            m_bHalfCycleReady = true;
        }
        m_ulTickle1Timeout = millis();
        g_bIRQ1.store(false, std::memory_order_relaxed);
        m_pStat->s_bPhaseSequenceError = (m_ADE9000.m_ulStatus1 & STATUS1_PHASE_SEQUENCE_ERROR) ? 1 : 0;
        m_ADE9000.writeReg(reg9000::STATUS1, m_ADE9000.m_ulStatus1);
    }

    m_ADE9000.readReg(reg9000::STATUS0, m_ADE9000.m_ulStatus0);
    const uint32_t ulStatus0 = m_ADE9000.m_ulStatus0;
    // All ones is no status: no report of this call is believed, and nothing
    // is written back that could clear a real one.
    const bool bSpiFailing = m_ADE9000.lastTransferFailed();
    uint16_t unHealth = 0;
    if (ulStatus0 == CHIP_NOT_ANSWERING)
        unHealth = SIGNAL_CHIP_NOT_ANSWERING | (bSpiFailing ? SIGNAL_SPI_FAILING : 0);
    m_pStat->s_unSignalValidFlags =
        (m_pStat->s_unSignalValidFlags & ~(SIGNAL_CHIP_NOT_ANSWERING | SIGNAL_SPI_FAILING)) | unHealth;
    if (ulStatus0 == CHIP_NOT_ANSWERING) {
        if (!m_bToldNotAnswering || millis() - m_ulToldNotAnsweringMillis >= NOT_ANSWERING_MESSAGE_MILLIS) {
            puts(bSpiFailing ? "ADE9000 not answering: SPI transfers fail\r"
                             : "ADE9000 not answering: STATUS0 reads 0xFFFFFFFF\r");
            m_bToldNotAnswering = true;
            m_ulToldNotAnsweringMillis = millis();
        }
        return;
    }
    m_ADE9000.writeReg(reg9000::STATUS0, ulStatus0);
    if ((ulStatus0 & STATUS0_EGYRDY) && m_gateEnergyReady.accept(millis())) m_bEnergyReady = true;
    if ((ulStatus0 & STATUS0_PWRRDY) && m_gatePowerReady.accept(millis())) m_bPowerReady = true;
    if (ulStatus0 & STATUS0_PAGE_FULL) {
        m_bGetWFB = true;
        m_ulTickle0Timeout = millis();
    }
}

int QM9000::process() {
    if (!m_pStat) return -1;  // not initialized: there is no block to work on
    const uint32_t ulOpMode = m_pStat->s_ulOpMode;
    if (ulOpMode == OPMODE_TEST) return processTest();
    if (ulOpMode == OPMODE_CALIBRATE) return processCalibrate();

    {
        std::lock_guard<std::mutex> lock(m_mutexIntervals);
        m_Accumulator.process();
        m_pStat->s_pLastAccumulator = m_Accumulator.getCompletedInterval();
    }

    processIRQ();

    if (m_bPowerReady) {
        processDemand();
        m_bPowerReady = false;
    }
    if (m_bEnergyReady) {
        processEnergy();
        m_bEnergyReady = false;
    }

    if (m_bHalfCycleReady) {
        timeval tvNow{};
        gettimeofday(&tvNow, nullptr);
        if (g_pAcqBuffer) {
            // Stamp the record with the moment of the interrupt, not of this call.
            g_ulNow = clk_count();
            const uint32_t ulElapsed = g_ulNow - g_ulPrevIRQ;
            int64_t llSeconds = static_cast<int64_t>(tvNow.tv_sec) - ulElapsed / MICROS_PER_SECOND;
            int64_t llMicros = static_cast<int64_t>(tvNow.tv_usec) - ulElapsed % MICROS_PER_SECOND;
            if (llMicros < 0) {
                llMicros += MICROS_PER_SECOND;
                llSeconds -= 1;
            }
            g_pAcqBuffer->m_tvSeconds = static_cast<uint32_t>(llSeconds);
            g_pAcqBuffer->m_tvMicroSeconds = static_cast<uint32_t>(llMicros);
        }

        // Angles are read while the line carries a signal, judged by the newest
        // published record: the slot being filled may hold values of a lap ago.
        const float* pfNewest = m_pStat->s_AcquisitionBuffer[publishedIndex()].m_fJournal;
        if (pfNewest[jrnl_FREQ_A] != 0.0f || pfNewest[jrnl_FREQ_B] != 0.0f || pfNewest[jrnl_FREQ_C] != 0.0f)
            processPhasor();

        processValues();
        checkWarmUp();
        if (m_bMonitorOn) processEvents();
        m_bHalfCycleReady = false;

        if (m_bGetWFB) {
            processWaveforms();
            processHarmonics();
        }

        closeRecord();
        checkWarmUp();
    }

    if (millis() - m_ulTickle0Timeout > WAVEFORM_WATCHDOG_MILLIS) m_ulTickle0Timeout = millis();

    if (millis() - m_ulTickle1Timeout > IRQ1_WATCHDOG_MILLIS) {
        m_ulTickle1Timeout = millis();
        m_ADE9000.readReg(reg9000::STATUS1, m_ADE9000.m_ulStatus1);
        m_ADE9000.writeReg(reg9000::STATUS1, m_ADE9000.m_ulStatus1);
    }
    return 0;
}

// Publishes the record just filled and moves on to the next one. The next
// record is not cleared: values this cycle does not write keep what it held.
void QM9000::closeRecord() {
    STATUS_AND_CONTROL& stat = *m_pStat;
    pthread_mutex_lock(&stat.s_mutexAcqBuffer);
    stat.s_unAcqBufferUI = stat.s_unAcqBufferNextIn;
    stat.s_unAcqBufferNextIn = static_cast<uint16_t>((stat.s_unAcqBufferNextIn + 1) % ACQ_BUFFER_RECORDS);
    const uint16_t unNextIn = stat.s_unAcqBufferNextIn;
    pthread_mutex_unlock(&stat.s_mutexAcqBuffer);
    m_pAcqBuffer = g_pAcqBuffer = &stat.s_AcquisitionBuffer[unNextIn];
}

void QM9000::checkWarmUp() {
    if (m_bWarmUpPending && millis() - m_ulMonitorWarmUp >= WARM_UP_MILLIS) {
        m_bMonitorOn = true;
        m_bWarmUpPending = false;
        m_ulMonitorWarmUp = 0;
    }
}
