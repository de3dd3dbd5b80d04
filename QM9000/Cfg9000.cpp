#include "Cfg9000.h"

#include <cstdio>
#include <cstring>

#include "CfgProbe.h"
#include "Init9000.h"
#include "LineSettings.h"
#include "QM9000.h"
#include "ReadOnlyFile.h"

namespace {

// The probe values are derived once all three of these have been read.
constexpr unsigned PROBE_SEEN_FREQUENCY = 1;
constexpr unsigned PROBE_SEEN_TYPE = 2;
constexpr unsigned PROBE_SEEN_FULL_SCALE = 4;
constexpr unsigned PROBE_SEEN_ALL = 7;

constexpr uint32_t MIN_ENERGY_INTERVAL_MINUTES = 5;

// A recording window spans the trigger cycles plus one record of the
// 4096-record ring: 4095 cycles would make it end where it starts (nothing
// to write), more would wrap.
constexpr uint32_t MAX_TRIGGER_CYCLES = 4094;

// What one load keeps while it reads the file.
struct LoadState {
    const JSONBuffer& scanner;
    QM9000& pmu;
    LineSettings line{};
    char* pszLine = nullptr;
    unsigned uProbeSeen = 0;
    int32_t nProbeIndex = 0;
    int32_t nVLimitEnable = 0;
    int32_t nILimitEnable = 0;

    int32_t integer() const { return scanner.findPair(pszLine, "value"); }
    uint16_t low16() const { return static_cast<uint16_t>(integer()); }
    float real() const { return scanner.findFloat(pszLine, "value"); }
    bool flag() const { return integer() != 0; }
    // Out of range (a negative value too) is limited, and said so.
    uint16_t triggerCycles(const char* pszName) const {
        const int32_t nCycles = integer();
        if (static_cast<uint32_t>(nCycles) <= MAX_TRIGGER_CYCLES) return static_cast<uint16_t>(nCycles);
        printf("Cfg9000::load: %s %ld limited to %lu\r\n", pszName, static_cast<long>(nCycles),
               static_cast<unsigned long>(MAX_TRIGGER_CYCLES));
        return MAX_TRIGGER_CYCLES;
    }

    // Derived when the last of frequency, probe and full scale is read, and
    // again whenever one of them is repeated. Without a published catalogue
    // the file's own full scale stays.
    void seeProbeSetting(unsigned uSetting) {
        uProbeSeen |= uSetting;
        if (uProbeSeen != PROBE_SEEN_ALL) return;
        CfgProbe* pProbes = pmu.m_pStat ? pmu.m_pStat->s_pCfgProbe : nullptr;
        if (!pProbes) return;
        const uint32_t ulProbe = static_cast<uint32_t>(nProbeIndex);
        pmu.m_fFullScaleAmps = pProbes->getFullScale(ulProbe, pmu.m_fFullScaleAmps, pmu.m_fNominalFreq);
        pmu.m_bRogowskiEnable = pProbes->isRogowski(ulProbe);
    }
    void updatePTRatio() { pmu.m_fPTRatio = pmu.m_fPTRatioPrimary / pmu.m_fPTRatioSecondary; }
    void updateCTRatio() { pmu.m_fCTRatio = pmu.m_fCTRatioPrimary / pmu.m_fCTRatioSecondary; }
};

// A secondary of 0 (also a malformed one) would make the ratio infinite.
float secondarySide(float fValue) {
    return fValue == 0.0f ? 1.0f : fValue;
}

struct Setting {
    const char* pszName;
    void (*apply)(LoadState&);
};

constexpr Setting SETTINGS[] = {
    {"ComputeB", [](LoadState& s) { s.pmu.m_unComputeB = s.low16(); }},
    {"FNominal",
     [](LoadState& s) {
         s.pmu.m_fNominalFreq = s.real();
         s.seeProbeSetting(PROBE_SEEN_FREQUENCY);
     }},
    {"INominal", [](LoadState& s) { s.pmu.m_fNominalAmps = s.real(); }},
    {"ProbeType",
     [](LoadState& s) {
         s.nProbeIndex = s.integer();
         s.seeProbeSetting(PROBE_SEEN_TYPE);
     }},
    {"FullScaleAmps",
     [](LoadState& s) {
         s.pmu.m_fFullScaleAmps = s.real();
         s.seeProbeSetting(PROBE_SEEN_FULL_SCALE);
     }},
    {"MultipointEnable", [](LoadState& s) { s.pmu.m_bMultipointEnable = s.flag(); }},
    {"PGAGain", [](LoadState& s) { s.pmu.m_unPGAGain = s.low16(); }},
    {"WFBOSCounts", [](LoadState& s) { s.pmu.m_nWFBOSCounts = static_cast<int16_t>(s.low16()); }},
    {"PTRatioPrimary",
     [](LoadState& s) {
         s.pmu.m_fPTRatioPrimary = s.real();
         s.updatePTRatio();
     }},
    {"PTRatioSecondary",
     [](LoadState& s) {
         s.pmu.m_fPTRatioSecondary = secondarySide(s.real());
         s.updatePTRatio();
     }},
    {"CTRatioPrimary",
     [](LoadState& s) {
         s.pmu.m_fCTRatioPrimary = s.real();
         s.updateCTRatio();
     }},
    {"CTRatioSecondary",
     [](LoadState& s) {
         s.pmu.m_fCTRatioSecondary = secondarySide(s.real());
         s.updateCTRatio();
     }},
    {"VLimitEnable", [](LoadState& s) { s.nVLimitEnable = s.integer(); }},
    {"ILimitEnable", [](LoadState& s) { s.nILimitEnable = s.integer(); }},
    {"IHighPercent", [](LoadState& s) { s.pmu.m_fIHighPercent = s.real(); }},
    {"ILowPercent", [](LoadState& s) { s.pmu.m_fILowPercent = s.real(); }},
    {"PreTrigCycles", [](LoadState& s) { s.pmu.m_unPreTrigCycles = s.triggerCycles("PreTrigCycles"); }},
    {"TotalTrigCycles", [](LoadState& s) { s.pmu.m_unTotalTrigCycles = s.triggerCycles("TotalTrigCycles"); }},
    {"EnergyEnable", [](LoadState& s) { s.pmu.m_bEnergyEnable = s.flag(); }},
    {"EnergyInterval",
     [](LoadState& s) {
         // A negative value reads as a large unsigned number and stays.
         const uint32_t ulMinutes = static_cast<uint32_t>(s.integer());
         s.pmu.m_ulEnergyIntervalMinutes =
             ulMinutes < MIN_ENERGY_INTERVAL_MINUTES ? MIN_ENERGY_INTERVAL_MINUTES : ulMinutes;
     }},
    {"DemandLimit", [](LoadState& s) { s.pmu.m_fDemandLimit = s.real(); }},
    {"VoltageInputOrder",
     [](LoadState& s) { s.pmu.m_nVoltageInputOrder = static_cast<uint32_t>(s.integer()); }},
    {"VInputOrder", [](LoadState& s) { s.pmu.m_nVoltageInputOrder = static_cast<uint32_t>(s.integer()); }},
    {"CurrentInputOrder",
     [](LoadState& s) { s.pmu.m_nCurrentInputOrder = static_cast<uint32_t>(s.integer()); }},
    {"IInputOrder", [](LoadState& s) { s.pmu.m_nCurrentInputOrder = static_cast<uint32_t>(s.integer()); }},
    {"DebugValues", [](LoadState& s) { s.pmu.m_bDebugValues = s.flag(); }},
    {"ExtraDigits", [](LoadState& s) { s.pmu.m_bExtraDigits = s.flag(); }},
    {"HPFDisable", [](LoadState& s) { s.pmu.m_bHPFDisable = s.flag(); }},
};

// Limit-enable bits by wiring: voltage limits of the phases the wiring uses,
// then current limits (wiring 5 leaves out one of phase B's).
uint32_t voltageLimitMask(const LineSettings& line) {
    uint32_t ulMask = 0;
    for (int p = 0; p < 3; p++)
        if (line.measuredPhases() & (1u << p))
            ulMask |= (LIMIT_VOLTS_HIGH | LIMIT_VOLTS_LOW) << (LIMIT_BITS_PER_PHASE * p);
    return ulMask;
}

uint32_t currentLimitMask(uint16_t unWiring) {
    switch (unWiring) {
        case WIRING_SINGLE:
            return 0x00000030;
        case WIRING_SPLIT:
        case WIRING_DELTA2:
            return 0x00300030;
        case WIRING_DELTA3:
            return 0x00302030;
        default:
            return 0x00303030;
    }
}

// The line's settings as the module keeps them; the limits in volts are
// derived only from a file read.
void takeLineSettings(QM9000& pmu, const LineSettings& line) {
    pmu.m_unWiring = line.unWiring;
    pmu.m_fNominalVolts = line.fNominalVolts;
    pmu.m_fVHighPercent = line.fVHighPercent;
    pmu.m_fVLowPercent = line.fVLowPercent;
    pmu.m_fFullScaleVolts = line.fFullScaleVolts;
    pmu.m_fFSVM_Wye = line.fFSVM_Wye;
    pmu.m_fFSVM_Delta = line.fFSVM_Delta;
    pmu.m_fFullScaleVoltsCorrected = line.correctedFullScaleVolts();
}

}  // namespace

int Cfg9000::initialize(void* pPMU) {
    m_pPMU = static_cast<QM9000*>(pPMU);
    if (!m_pPMU) return 0;
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
    takeLineSettings(pmu, LineSettings{});
    pmu.m_unComputeB = pmu.m_unPGAGain = 0;
    pmu.m_bHPFDisable = pmu.m_bMultipointEnable = pmu.m_bRogowskiEnable = false;
    pmu.m_fNominalFreq = 60.0f;
    pmu.m_fNominalAmps = 2.0f;
    pmu.m_fPTRatio = pmu.m_fPTRatioPrimary = pmu.m_fPTRatioSecondary = 1.0f;
    pmu.m_fCTRatio = pmu.m_fCTRatioPrimary = pmu.m_fCTRatioSecondary = 1.0f;
    pmu.m_fIHighPercent = 400.0f;
    pmu.m_fILowPercent = 0.0f;
    pmu.m_ulLimitEnable = 0;
    pmu.m_unPreTrigCycles = 10;
    pmu.m_unTotalTrigCycles = 30;
}

void Cfg9000::load(const char* pszFName) {
    if (!m_pPMU) return;
    setDefaults();
    ReadOnlyFile file(pszFName);
    if (!file.isOpen()) {
        printf("Couldn't open file: %s\r\n", displayName(pszFName));
        return;
    }
    printf("Cfg9000::load: %s\r\n", pszFName);

    QM9000& pmu = *m_pPMU;
    LoadState state{*this, pmu};
    char szLine[LINE_BUFFER_SIZE];
    char szName[MAX_SETTING_NAME + 1];
    while (readJSON(file.fd(), szLine, sizeof(szLine)) != -1) {
        if (!findStr(szLine, szName, "name", MAX_SETTING_NAME)) continue;
        state.pszLine = szLine;
        state.line.apply(*this, szName, szLine);  // FullScaleAmps is the module's too, with its probe
        for (const Setting& setting : SETTINGS) {
            if (strcmp(szName, setting.pszName) == 0) {
                setting.apply(state);
                break;
            }
        }
    }

    takeLineSettings(pmu, state.line);
    pmu.m_fVHigh = state.line.vHighVolts();
    pmu.m_fVLow = state.line.vLowVolts();
    pmu.m_fIHigh = percentOf(pmu.m_fNominalAmps, pmu.m_fIHighPercent);
    pmu.m_fILow = percentOf(pmu.m_fNominalAmps, pmu.m_fILowPercent);

    uint32_t ulLimitEnable = 0;
    if (state.nVLimitEnable != 0) ulLimitEnable = voltageLimitMask(state.line);
    if (state.nILimitEnable != 0) ulLimitEnable |= currentLimitMask(pmu.m_unWiring);
    pmu.m_ulLimitEnable = ulLimitEnable;
}

void Cfg9000::dumpAddress(uint16_t unAddress, uint16_t unSizeInBits) {
    if (m_pPMU) dumpChipRegister(m_pPMU->m_ADE9000, unAddress, unSizeInBits);
}
