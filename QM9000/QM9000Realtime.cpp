// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// Live-data requests from the host's threads: binary records of the newest
// acquisition record and the working interval, and the waveform snapshot.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "QM9000.h"

namespace {

// A bounded request (ulMaxResult not 0) smaller than the record gets nothing.
bool fits(uint32_t ulMaxResult, uint32_t ulFloats) {
    return ulMaxResult == 0 || ulMaxResult >= ulFloats * sizeof(float);
}

// The requests that write a result, and so need somewhere to write it.
constexpr int WRITING_REQUESTS[] = {REQ_VANDI,  REQ_SCOPE,       REQ_PHASOR,  REQ_VANDI_ALIAS,
                                    REQ_ENERGY, REQ_SCALED_JSON, REQ_REGLIST, REQ_REGLIST_ALIAS,
                                    REQ_MODBUS, REQ_JSON_VALUES};
bool writesResult(int nType) {
    return std::find(std::begin(WRITING_REQUESTS), std::end(WRITING_REQUESTS), nType) !=
           std::end(WRITING_REQUESTS);
}

constexpr float SCOPE_COUNTS_FULL_SCALE = 18196.0f;
constexpr double CURRENT_CHANNEL_FACTOR = 3.003003003003003;
}  // namespace

int QM9000::realtimeGet(int nType, void* pvResult, uint32_t ulMaxResult) {
    if (!m_pStat) return REQ_UNRECOGNIZED;  // not initialized: nothing to answer from
    if (!pvResult && writesResult(nType)) return REQ_TOO_SMALL;
    switch (nType) {
        case REQ_VANDI:
        case REQ_VANDI_ALIAS:
            return realtimeGetVandI(nType, pvResult, ulMaxResult);
        case REQ_SCOPE:
        case REQ_SCOPE_ARM:
            return realtimeGetScope(nType, pvResult, ulMaxResult);
        case REQ_PHASOR:
            return realtimeGetPhasor(nType, pvResult, ulMaxResult);
        case REQ_ENERGY:
            return realtimeGetEnergy(nType, pvResult, ulMaxResult);
        case REQ_MODBUS:
            return realtimeGetModbus(nType, pvResult, ulMaxResult);
        case REQ_SCALED_JSON:
            return realtimeGetScaledJSONValues(nType, pvResult, ulMaxResult);
        case REQ_JSON_VALUES:
            return realtimeGetJSONValues(nType, pvResult, ulMaxResult);
        case REQ_TRIGGER:
            return realtimeTrigger();
        case REQ_REGLIST:
        case REQ_REGLIST_ALIAS:
            return realtimeGetRegList(nType, pvResult, ulMaxResult);
        default:
            return REQ_UNRECOGNIZED;
    }
}

uint16_t QM9000::publishedIndex() {
    pthread_mutex_lock(&m_pStat->s_mutexAcqBuffer);
    const uint16_t unIndex = m_pStat->s_unAcqBufferUI % ACQ_BUFFER_RECORDS;
    pthread_mutex_unlock(&m_pStat->s_mutexAcqBuffer);
    return unIndex;
}

int QM9000::realtimeGetVandI(int, void* pvResult, uint32_t ulMaxResult) {
    if (!fits(ulMaxResult, VANDI_FLOATS)) return REQ_TOO_SMALL;
    memcpy(pvResult, m_pStat->s_AcquisitionBuffer[publishedIndex()].m_fJournal, VANDI_FLOATS * sizeof(float));
    return REQ_OK;
}

int QM9000::realtimeGetPhasor(int, void* pvResult, uint32_t ulMaxResult) {
    if (!fits(ulMaxResult, PHASOR_FLOATS)) return REQ_TOO_SMALL;
    memcpy(pvResult, &m_pStat->s_AcquisitionBuffer[publishedIndex()].m_fJournal[jrnl_VANGLE_A],
           PHASOR_FLOATS * sizeof(float));
    return REQ_OK;
}

int QM9000::realtimeGetEnergy(int, void* pvResult, uint32_t ulMaxResult) {
    if (!fits(ulMaxResult, ENERGY_FLOATS)) return REQ_TOO_SMALL;
    const ACCUMULATOR_DATA working = workingIntervalSnapshot();
    auto* pDest = static_cast<char*>(pvResult);
    memcpy(pDest, working.m_fEnergyAccum, sizeof(working.m_fEnergyAccum));
    memcpy(pDest + sizeof(working.m_fEnergyAccum), working.m_fEnergyTotal, sizeof(working.m_fEnergyTotal));
    memcpy(pDest + 2 * sizeof(working.m_fEnergyAccum), working.m_fDemandMax, sizeof(working.m_fDemandMax));
    return REQ_OK;
}

int QM9000::realtimeGetModbus(int, void* pvResult, uint32_t ulMaxResult) {
    if (!fits(ulMaxResult, MODBUS_FLOATS)) return REQ_TOO_SMALL;
    auto* pDest = static_cast<char*>(pvResult);
    memcpy(pDest, m_pStat->s_AcquisitionBuffer[publishedIndex()].m_fJournal, jrnl_MAX * sizeof(float));
    const ACCUMULATOR_DATA working = workingIntervalSnapshot();
    pDest += jrnl_MAX * sizeof(float);
    memcpy(pDest, working.m_fEnergyAccum, sizeof(working.m_fEnergyAccum));
    memcpy(pDest + sizeof(working.m_fEnergyAccum), working.m_fEnergyTotal, sizeof(working.m_fEnergyTotal));
    return REQ_OK;
}

int QM9000::realtimeGetScope(int nType, void* pvResult, uint32_t ulMaxResult) {
    if (!fits(ulMaxResult, SCOPE_FLOATS)) return REQ_TOO_SMALL;
    pthread_mutex_lock(&g_mutexWaveform);
    if (nType == REQ_SCOPE_ARM) {
        // Re-arm the capture: clear the page-full report, restart the buffer.
        m_ADE9000.writeReg(reg9000::STATUS0, STATUS0_PAGE_FULL);
        m_ADE9000.clearRegBits16(reg9000::WFB_CFG, WFB_CFG_CAPTURE);
        m_ADE9000.writeReg16(reg9000::WFB_CFG, 0x0000);
        m_ADE9000.setRegBits16(reg9000::WFB_CFG, WFB_CFG_CAPTURE);
        m_bWaveformUpdated = false;
        m_bScopeRequested = true;
        pthread_mutex_unlock(&g_mutexWaveform);
        return REQ_OK;
    }
    if (!m_bWaveformUpdated) {
        pthread_mutex_unlock(&g_mutexWaveform);
        return REQ_TOO_SMALL;
    }
    const float fConvVolt = (m_fFullScaleVoltsCorrected / SCOPE_COUNTS_FULL_SCALE) * m_fPTRatio;
    const float fConvAmp =
        static_cast<float>(m_fFullScaleAmps * CURRENT_CHANNEL_FACTOR / SCOPE_COUNTS_FULL_SCALE * m_fCTRatio);
    const uint16_t(*pSet)[SCOPE_SAMPLES] = m_unWaveforms[m_unWaveformDisplayIndex];
    float* pfDest = static_cast<float*>(pvResult);
    // Voltages A, B, C (channels 1, 3, 5), then currents A, B, C (0, 2, 4).
    for (int ch : {1, 3, 5})
        for (uint32_t i = 0; i < SCOPE_SAMPLES; i++) {
            const uint16_t unSample = static_cast<uint16_t>(pSet[ch][i] + (m_ulWFBCalOffset[ch] & 0xFFFF) -
                                                            static_cast<uint16_t>(m_nWFBOSCounts));
            *pfDest++ = static_cast<float>(static_cast<int16_t>(unSample)) * (m_fWFBCalRatio[ch] * fConvVolt);
        }
    for (int ch : {0, 2, 4})
        for (uint32_t i = 0; i < SCOPE_SAMPLES; i++) {
            const uint16_t unSample = static_cast<uint16_t>(pSet[ch][i] + (m_ulWFBCalOffset[ch] & 0xFFFF));
            *pfDest++ = static_cast<float>(static_cast<int16_t>(unSample)) * (m_fWFBCalRatio[ch] * fConvAmp);
        }
    m_bWaveformUpdated = false;
    pthread_mutex_unlock(&g_mutexWaveform);
    return REQ_OK;
}
