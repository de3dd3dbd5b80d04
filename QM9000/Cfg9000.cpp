#include "Cfg9000.h"

#include "QM9000.h"

int Cfg9000::initialize(void* pPMU) {
    m_pPMU = static_cast<QM9000*>(pPMU);
    m_pPMU->m_fPTRatio = 1.0f;
    m_pPMU->m_fCTRatio = 1.0f;
    for (int i = 0; i < 6; i++) {
        m_pPMU->m_fWFBCalRatio[i] = 1.0f;
        m_pPMU->m_ulWFBCalOffset[i] = 0;
    }
    return 0;
}

// Every load starts from these, so a setting the file no longer names falls
// back to its default on reload.
void Cfg9000::setDefaults() {
    QM9000& pmu = *m_pPMU;
    pmu.m_unWiring = pmu.m_unComputeB = pmu.m_unPGAGain = 0;
    pmu.m_bHPFDisable = pmu.m_bMultipointEnable = pmu.m_bRogowskiEnable = false;
    pmu.m_fNominalFreq = 60.0f;
    pmu.m_fNominalAmps = 2.0f;
    pmu.m_fNominalVolts = 120.0f;
    pmu.m_fFullScaleVolts = pmu.m_fFullScaleVoltsCorrected = 1077.11f;
    pmu.m_fFSVM_Wye = 0.90045f;
    pmu.m_fFSVM_Delta = 0.9012f;
    pmu.m_fPTRatio = pmu.m_fPTRatioPrimary = pmu.m_fPTRatioSecondary = 1.0f;
    pmu.m_fCTRatio = pmu.m_fCTRatioPrimary = pmu.m_fCTRatioSecondary = 1.0f;
    pmu.m_fVHighPercent = 105.0f;
    pmu.m_fVLowPercent = 90.0f;
    pmu.m_fIHighPercent = 400.0f;
    pmu.m_fILowPercent = 0.0f;
    pmu.m_ulLimitEnable = 0;
    pmu.m_unPreTrigCycles = 10;
    pmu.m_unTotalTrigCycles = 30;
}

void Cfg9000::load(const char*) {
    setDefaults();
    // TEMPORARY: the file itself is read once the JSON configuration files land;
    // until then every load gives the defaults.
}
