// Module lifecycle: creation, binding to the host block, chip set-up and the
// monitoring period.
#include "QM9000.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "BoardIO.h"
#include "MDT.h"
#include "RegisterMath.h"
#include "Tables9000.h"
#include "qm_timer.h"

#define QM_EXPORT extern "C" __attribute__((visibility("default")))

QM_EXPORT MeasSOM* create_object() {
    return new QM9000;
}

QM_EXPORT void destroy_object(QM9000* p) {
    delete p;
}

QM9000::QM9000()
    : m_bFound(false),
      m_bMonitorOn(false),
      m_ulMonitorWarmUp(0),
      m_bWarmUpPending(false),
      m_bTriggered(false),
      m_bExpansionTrigger(false),
      m_bHalfCycleReady(false),
      m_bEnergyReady(false),
      m_bPowerReady(false),
      m_bGetWFB(false),
      m_bTemperatureReady(false),
      m_bExtraDigits(false),
      m_ulLastStatus1(0),
      m_fTempOffset(0),
      m_fTempGain(0),
      m_fTempHold9000(0),
      m_fCPUHoldPi(0),
      m_unWiring(0),
      m_unComputeB(0),
      m_unPGAGain(0),
      m_bHPFDisable(false),
      m_nVoltageInputOrder(0),
      m_nCurrentInputOrder(0),
      m_fNominalFreq(0),
      m_fNominalAmps(0),
      m_fFullScaleAmps(100.0f),
      m_bMultipointEnable(false),
      m_bRogowskiEnable(false),
      m_fNominalVolts(0),
      m_fFullScaleVoltsCorrected(1077.11f),
      m_fFullScaleVolts(1077.11f),
      m_fVNoiseFloor(25.0f),
      m_fINoiseFloor(0.01f),
      m_fFSVM_Wye(0.90045f),
      m_fFSVM_Delta(0.9012f),
      m_fPMAX_LSB(0),
      m_fVolts_LSB(0),
      m_fAmps_LSB(0),
      m_fFreq_Conv(0),
      m_fPF_LSB(0),
      m_fTHD_LSB(0),
      m_fAngle_LSB(0),
      m_fEnergy_LSB(0),
      m_fRadians(0.017453292f),
      m_fCurrentAngleCal{},
      m_fWFBCalRatio{1, 1, 1, 1, 1, 1},
      m_ulWFBCalOffset{},
      m_nWFBOSCounts(0),
      m_fPTRatio(1),
      m_fPTRatioPrimary(1),
      m_fPTRatioSecondary(1),
      m_fCTRatio(1),
      m_fCTRatioPrimary(1),
      m_fCTRatioSecondary(1),
      m_fVHigh(0),
      m_fVLow(0),
      m_fIHigh(0),
      m_fILow(0),
      m_fVHighPercent(0),
      m_fVLowPercent(0),
      m_fIHighPercent(0),
      m_fILowPercent(0),
      m_ulLimitEnable(0),
      m_unPreTrigCycles(0),
      m_unTotalTrigCycles(0),
      m_pAcqBuffer(nullptr),
      m_bEnergyEnable(false),
      m_ulEnergyIntervalMinutes(0),
      m_fDemandLimit(0),
      m_ulNextCPUUsage(0),
      m_ulLastPMUCoreTemp(0),
      m_ulTickle0Timeout(0),
      m_ulTickle1Timeout(0),
      m_bWaveformUpdated(false),
      m_bScopeRequested(false),
      m_unWaveformDisplayIndex(0),
      m_unWaveforms{},
      m_pszJrnlName{},
      m_bDebugValues(false) {
    nSOM_ID = 1001;
    m_pMDT = nullptr;
    memcpy(m_mrBurstReadMap, g_mrBurstReadMap, sizeof(m_mrBurstReadMap));
    initializeLSBs();
    m_ulTickle0Timeout = m_ulTickle1Timeout = millis();
    clk_init();
    g_ulLastIRQ.store(0, std::memory_order_relaxed);
}

// Members are destroyed in reverse order of construction; the chip is left as is.
QM9000::~QM9000() = default;

int QM9000::initialize(const char* pszCfgFName, MDT* pMDT, STATUS_AND_CONTROL* pStat) {
    if (!pStat) {
        puts("initialize: no status and control block\r");
        return -1;
    }
    m_pMDT = pMDT;
    m_pStat = pStat;

    m_pAcqBuffer = g_pAcqBuffer =
        &pStat->s_AcquisitionBuffer[pStat->s_unAcqBufferNextIn % ACQ_BUFFER_RECORDS];
    memset(m_pAcqBuffer->m_fJournal, 0, sizeof(m_pAcqBuffer->m_fJournal));

    m_Cfg9000.initialize(this);
    m_Cfg9000.load(pszCfgFName);
    m_Cal9000.initialize(this);
    m_jsonInit.initialize(this);
    m_Accumulator.initialize();
    initializeJrnlList();

    m_bTriggered = false;
    m_bExpansionTrigger = false;

    printf("Acquisition block size: %d\n", static_cast<int>(sizeof(DATA_ACQ)));
    memset(pStat->s_AcquisitionBuffer, 0, sizeof(pStat->s_AcquisitionBuffer));
    // Until the first record is closed, readers are shown the (zeroed) record
    // before the one being filled, never the one being written.
    pthread_mutex_lock(&pStat->s_mutexAcqBuffer);
    pStat->s_unAcqBufferUI =
        static_cast<uint16_t>((pStat->s_unAcqBufferNextIn + ACQ_BUFFER_RECORDS - 1) % ACQ_BUFFER_RECORDS);
    pthread_mutex_unlock(&pStat->s_mutexAcqBuffer);

    pthread_cond_init(&g_condPMUReady, nullptr);
    g_bIRQ1.store(false, std::memory_order_release);

    if (wiringPiISR(ISR_PIN_IRQ1, BOARD_INT_EDGE_FALLING, isrIRQ1) < 0) puts("Unable to setup ISR for IRQ1.");

    m_ADE9000.begin(CHIP_SELECT_PIN, CHIP_RESET_PIN);

    m_bFound = find();
    if (!m_bFound) return 0;

    m_ADE9000.stopDSP();
    m_ADE9000.interruptsOff();

    // Start from neutral gains and offsets; the calibration file sets them next.
    static constexpr uint16_t kNeutralRegisters[] = {
        reg9000::AIGAIN,  reg9000::AVGAIN,  reg9000::BIGAIN,  reg9000::BVGAIN,  reg9000::CIGAIN,
        reg9000::CVGAIN,  reg9000::NIGAIN,  reg9000::DICOEFF, reg9000::APGAIN,  reg9000::AWATTOS,
        reg9000::BPGAIN,  reg9000::BWATTOS, reg9000::CPGAIN,  reg9000::CWATTOS, reg9000::AIRMSOS,
        reg9000::AVRMSOS, reg9000::BIRMSOS, reg9000::BVRMSOS, reg9000::CIRMSOS, reg9000::CVRMSOS,
        reg9000::NIRMSOS};
    for (uint16_t unAddress : kNeutralRegisters) m_ADE9000.writeReg(unAddress, 0);

    uint32_t ulTempTrim = 0;
    m_ADE9000.readReg(reg9000::TEMP_TRIM, ulTempTrim);
    m_fTempGain = -static_cast<float>(ulTempTrim & 0xFFFF) / 65536.0f;
    m_fTempOffset = static_cast<float>(ulTempTrim >> 16) / 32.0f;

    Configure9000();
    return 0;
}

int QM9000::updateConfig(const char* pszCfgFName) {
    if (!m_pStat) return -1;  // before initialize nothing is bound
    m_Cfg9000.load(pszCfgFName);
    updateLSBs();
    m_Accumulator.updateConfig(m_bEnergyEnable, m_ulEnergyIntervalMinutes);
    Configure9000();
    updateInputs();
    return 0;
}

int QM9000::monitorStart() {
    if (!m_pStat) return -1;
    updateInputs();
    {
        STATUS_AND_CONTROL& stat = *m_pStat;
        stat.s_unAcqBufferNextWrite = stat.s_unAcqBufferLastWrite = 0;
        stat.s_ulEventFirstRecordID = stat.s_ulEventLastRecordID = 0;
        stat.s_ulEventSeconds = stat.s_ulEventMicroSeconds = 0;
        memset(stat.s_fEventVMin, 0, sizeof(stat.s_fEventVMin));
        memset(stat.s_fEventVMax, 0, sizeof(stat.s_fEventVMax));
        memset(stat.s_fEventIMin, 0, sizeof(stat.s_fEventIMin));
        memset(stat.s_fEventIMax, 0, sizeof(stat.s_fEventIMax));
    }
    {
        std::lock_guard<std::mutex> lock(m_mutexIntervals);
        m_Accumulator.start();
    }
    m_bTriggered = false;
    m_bExpansionTrigger = false;
    m_bMonitorOn = false;
    m_ulMonitorWarmUp = millis();
    m_bWarmUpPending = true;
    return 0;
}

int QM9000::monitorStop() {
    if (!m_pStat) return -1;
    m_bTriggered = false;
    m_bExpansionTrigger = false;
    m_bMonitorOn = false;
    m_ulMonitorWarmUp = 0;
    m_bWarmUpPending = false;
    std::lock_guard<std::mutex> lock(m_mutexIntervals);
    m_Accumulator.stop();
    return 0;
}

int QM9000::registerRead(uint32_t, void*) {
    return 1;
}

int QM9000::registerWrite(uint32_t, void*) {
    return 1;
}

int QM9000::Configure9000() {
    if (!m_bFound) return 0;
    Configure9000Regs();
    m_Cal9000.load(m_pStat->s_pszActiveCal);
    m_Cal9000.pushCal();
    m_Cal9000.readAndDumpCal();
    m_jsonInit.load("Init9000.json");
    m_ADE9000.setRegBits16(reg9000::WFB_CFG, WFB_CFG_CAPTURE);
    return 0;
}

int QM9000::Configure9000Regs() {
    ADE_9000& chip = m_ADE9000;
    chip.writeReg16(reg9000::TEMP_CFG, 0x000F);

    uint32_t ulConfig0 = 0;
    if (m_bHPFDisable) ulConfig0 |= 0x0008;
    if (m_bMultipointEnable) ulConfig0 |= 0x0010;
    if (m_bRogowskiEnable) ulConfig0 |= 0x0820;
    chip.writeReg(reg9000::CONFIG0, ulConfig0);

    chip.writeReg16(reg9000::CONFIG1, 0x0802);
    chip.writeReg16(reg9000::CONFIG2, 0x0C00);
    chip.writeReg16(reg9000::CONFIG3, 0xF000);
    chip.writeReg(reg9000::ADC_REDIRECT, 0x1FFFFF);
    chip.writeReg16(reg9000::ZXTOUT, 0xFFFF);
    chip.writeReg16(reg9000::ZX_LP_SEL, 0);
    chip.writeReg16(reg9000::SEQ_CYC, 1);
    chip.writeReg16(reg9000::EP_CFG, 0x0011);
    chip.writeReg16(reg9000::PWR_TIME, 7999);
    chip.writeReg16(reg9000::EGY_TIME, 7999);
    chip.writeReg16(reg9000::PGA_GAIN, m_unPGAGain);
    chip.writeReg16(reg9000::COMPMODE, 0);
    chip.writeReg16(reg9000::DIP_CYC, 0);
    chip.writeReg(reg9000::MASK0, 0);
    chip.writeReg(reg9000::MASK1, 0);
    chip.writeReg(reg9000::STATUS0, 0xFFFFFFFF);
    chip.writeReg(reg9000::STATUS1, 0xFFFFFFFF);
    chip.writeReg(reg9000::DICOEFF, m_bRogowskiEnable ? 0xFFFFE000 : 0);

    uint16_t unAccMode = 0;
    if (m_fNominalFreq > 55.0f && m_fNominalFreq < 65.0f) unAccMode |= 0x0100;
    if (m_unWiring == 4) unAccMode |= 0x0080;
    if (m_unWiring == 4 || m_unWiring == 5) unAccMode |= 0x0040;
    chip.writeReg16(reg9000::ACCMODE, unAccMode);

    // A nominal voltage of 0 gives an infinite level: saturate rather than overflow.
    const double dVLevel = (1.0 / (m_fNominalVolts / (m_fFullScaleVoltsCorrected * 0.70710677))) * 1444084.0;
    chip.writeReg(reg9000::VLEVEL, toRegisterU32(dVLevel));
    return 0;
}

// The chip is taken to be present: an absent chip shows in the data.
bool QM9000::find() {
    return true;
}

void QM9000::meterOn() {
    m_ADE9000.interruptsOff();
    m_ADE9000.writeReg16(reg9000::ZXTOUT, 0x0084);
    m_ADE9000.interruptsOn(STATUS0_PAGE_FULL, 0x240);
    m_ADE9000.startDSP();
    m_ADE9000.writeReg16(reg9000::TEMP_CFG, 0x000F);
    m_ulLastPMUCoreTemp = millis();
}

void QM9000::meterOff() {
    m_ADE9000.stopDSP();
    m_ADE9000.interruptsOff();
}

void QM9000::initializeJrnlList() {
    if (!m_pMDT) return;
    memset(m_pszJrnlName, 0, sizeof(m_pszJrnlName));
    const MDT_REGLIST* pList = m_pMDT->getRegisterList();
    // Each journal value takes the description of the first "jrnl_" register
    // that carries it; the totals are never named here.
    for (uint32_t ulIndex = 0; ulIndex < jrnl_NUM_REGS; ulIndex++) {
        for (const MDT_REGLIST* pNode = pList; pNode; pNode = pNode->pmdtRegNext) {
            const MDT_REGISTER& reg = pNode->mdtReg;
            if (reg.s_ulReg != ulIndex || !strstr(reg.s_pszAbbrev, "jrnl_")) continue;
            // At most 31 characters; the NUL after them is the cleared name's.
            memcpy(m_pszJrnlName[ulIndex], reg.s_pszDescription,
                   strnlen(reg.s_pszDescription, sizeof(m_pszJrnlName[ulIndex]) - 1));
            break;
        }
    }
}

// Lists each burst-fed journal value with its register's unit label. Indexed
// by the journal value the row feeds, so each label stands beside its own value.
void QM9000::dump() {
    if (!m_pAcqBuffer) return;
    for (const BURST_READ_MAP_RECORD& row : m_mrBurstReadMap) {
        if (row.unRegDefIndex == BURST_MAP_NONE || row.unRegDefIndex >= REGISTER_DEFS_ROWS) continue;
        if (row.unJrnlIndex >= jrnl_MAX) continue;
        printf("%s: %6.2f\r\n", g_rd9000RegisterDefs[row.unRegDefIndex].pszUnits,
               m_pAcqBuffer->m_fJournal[row.unJrnlIndex]);
    }
}
