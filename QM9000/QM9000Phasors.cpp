// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// Phase angles from the chip's angle registers, and one cycle of waveforms cut
// from a full waveform-buffer page for the scope reader.
#include <cmath>
#include <cstring>

#include "QM9000.h"

namespace {
constexpr uint16_t ANGL_VA_VB = 0x482, ANGL_VB_VC = 0x483, ANGL_VA_VC = 0x484, ANGL_VA_IA = 0x485,
                   ANGL_VB_IB = 0x486, ANGL_VC_IC = 0x487;
constexpr int WAVEFORM_CHANNELS = 6;
constexpr int CYCLE_SAMPLES = 128;
constexpr int REFERENCE_CHANNEL = 1;  // voltage A: the cycle starts where it rises through zero
constexpr int LAST_START = 128;
constexpr double ANGLE_COUNT_SECONDS = 9.765625e-7;  // the angle registers count at 1.024 MHz
constexpr float MIN_MEASURED_SHARE = 0.5f, MAX_MEASURED_SHARE = 1.5f;  // of the nominal frequency

// The sample's most significant byte as received, read as signed.
int8_t sampleSign(const ADE9000_WAVEFORM_RECV_BUFFER& buffer, int nSample) {
    int8_t nHigh = 0;
    memcpy(&nHigh, &buffer.unSample[nSample][REFERENCE_CHANNEL], 1);
    return nHigh;
}
}  // namespace

// Degrees per count of an angle register. A count is a time between zero
// crossings, so its angle depends on the line's period: at 49 Hz the nominal
// 50 Hz scale would read 120 degrees as 117.6 and show an unbalance that is
// not there. The newest record's measured frequency is used when it is a
// believable reading, the nominal scale otherwise.
float QM9000::angleScale() {
    const float* pfNewest = m_pStat->s_AcquisitionBuffer[publishedIndex()].m_fJournal;
    const float fNominal = m_fNominalFreq == 50.0f ? 50.0f : 60.0f;
    for (int p = 0; p < 3; p++) {
        const float fMeasured = pfNewest[jrnl_FREQ_A + p];
        if (fMeasured >= fNominal * MIN_MEASURED_SHARE && fMeasured <= fNominal * MAX_MEASURED_SHARE)
            return static_cast<float>(ANGLE_COUNT_SECONDS * 360.0 * fMeasured);
    }
    return m_fAngle_LSB;
}

void QM9000::processPhasor() {
    static constexpr uint16_t kAngles[6] = {ANGL_VA_VB, ANGL_VB_VC, ANGL_VA_VC,
                                            ANGL_VA_IA, ANGL_VB_IB, ANGL_VC_IC};
    const float fScale = angleScale();
    float fDegrees[6];
    for (int i = 0; i < 6; i++) {
        uint16_t unCounts = 0;
        m_ADE9000.readReg16(kAngles[i], unCounts);
        // Into [0, 360) however many turns the count holds (a chip reading
        // all ones gives more than two).
        fDegrees[i] = std::fmod(fScale * unCounts, 360.0f);
    }
    float* pfJournal = m_pAcqBuffer->m_fJournal;
    pfJournal[jrnl_VANGLE_A] = 0.0f;
    pfJournal[jrnl_VANGLE_B] = -fDegrees[0];
    pfJournal[jrnl_VANGLE_C] = 360.0f - fDegrees[2];
    pfJournal[jrnl_IANGLE_A] = fDegrees[3];
    pfJournal[jrnl_IANGLE_B] = fDegrees[4];
    pfJournal[jrnl_IANGLE_C] = fDegrees[5];
}

void QM9000::processWaveforms() {
    pthread_mutex_lock(&g_mutexWaveform);
    const bool bWaiting = m_bWaveformUpdated;
    const uint16_t unFill = m_unWaveformDisplayIndex ^ 1;
    pthread_mutex_unlock(&g_mutexWaveform);
    // While the last set waits for its reader the page is left in the chip
    // (m_bGetWFB stays set) and not read at all: no 3 KB transfer per half-cycle.
    if (bWaiting || !m_bGetWFB) return;

    const ADE9000_WAVEFORM_RECV_BUFFER* pPage = m_ADE9000.readWaveforms();
    if (!pPage) return;

    int nStart = 0;
    for (int s = 0; s <= LAST_START; s++) {
        if (sampleSign(*pPage, s) < 0 && sampleSign(*pPage, s + 1) >= 0) {
            nStart = s;
            break;
        }
    }
    // The set being filled is never the one on display, so no lock is needed.
    for (int c = 0; c < WAVEFORM_CHANNELS; c++)
        for (int n = 0; n < CYCLE_SAMPLES; n++)
            m_unWaveforms[unFill][c][n] = swapBytes(pPage->unSample[nStart + n][c]);

    // WFB_CFG is read, modified and written here and by the scope re-arm on a
    // reader's thread: both under the waveform lock, so no arm is lost. The
    // reader sets m_bScopeRequested under the same lock.
    pthread_mutex_lock(&g_mutexWaveform);
    m_ADE9000.writeReg(reg9000::STATUS0, STATUS0_PAGE_FULL);
    m_ADE9000.clearRegBits16(reg9000::WFB_CFG, WFB_CFG_CAPTURE);
    m_bWaveformUpdated = true;
    m_unWaveformDisplayIndex = unFill;
    const bool bRequested = m_bScopeRequested;
    m_bScopeRequested = false;
    pthread_mutex_unlock(&g_mutexWaveform);

    if (bRequested) pthread_cond_signal(&m_pStat->s_condSnapshotAvailable);
    m_bGetWFB = false;
}

// Hooks of the cycle with nothing to do yet.
void QM9000::processHarmonics() {}

void QM9000::processTemperature() {}
