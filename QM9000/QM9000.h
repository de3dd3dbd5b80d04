// The measurement module: owns the chip driver, the configuration files and
// the accumulator, binds to the host's block and fills its acquisition ring.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "Accumulator.h"
#include "Cal9000.h"
#include "Cfg9000.h"
#include "Driver_ADE9000.h"
#include "HostCommands.h"
#include "Init9000.h"
#include "JournalTables.h"
#include "JournalTables9000.h"
#include "MeasSOM.h"
#include "RPi.h"
#include "ReadyReportGate.h"
#include "Requests.h"

// Engine globals shared with the interrupt routine. The routine stores the
// counter, then raises the flag (release); process reads the flag, then the
// counter (acquire).
extern std::atomic<bool> g_bIRQ1;
extern std::atomic<uint32_t> g_ulLastIRQ;
extern uint32_t g_ulPrevIRQ;
extern uint32_t g_ulNow;
extern DATA_ACQ* g_pAcqBuffer;
extern pthread_cond_t g_condPMUReady;
extern pthread_mutex_t g_mutexWaveform;
extern pthread_mutex_t g_mutexStatus0;
extern pthread_mutex_t g_mutexStatus1;

void isrIRQ1();

// Chip registers the module addresses by name.
namespace reg9000 {
constexpr uint16_t AIGAIN = 0x000, AVGAIN = 0x00B, AIRMSOS = 0x00C, AVRMSOS = 0x00D, APGAIN = 0x00E,
                   AWATTOS = 0x00F;
constexpr uint16_t BIGAIN = 0x020, BVGAIN = 0x02B, BIRMSOS = 0x02C, BVRMSOS = 0x02D, BPGAIN = 0x02E,
                   BWATTOS = 0x02F;
constexpr uint16_t CIGAIN = 0x040, CVGAIN = 0x04B, CIRMSOS = 0x04C, CVRMSOS = 0x04D, CPGAIN = 0x04E,
                   CWATTOS = 0x04F;
constexpr uint16_t NIRMSOS = 0x06B, NIGAIN = 0x06D, DICOEFF = 0x072;
constexpr uint16_t STATUS0 = 0x402, STATUS1 = 0x403, MASK0 = 0x405, MASK1 = 0x406;
constexpr uint16_t VLEVEL = 0x40F, APERIOD = 0x418, BPERIOD = 0x419, CPERIOD = 0x41A;
constexpr uint16_t ADC_REDIRECT = 0x424, TEMP_TRIM = 0x474;
constexpr uint16_t CONFIG1 = 0x481, DIP_CYC = 0x48B;
constexpr uint16_t COMPMODE = 0x491, ACCMODE = 0x492, CONFIG3 = 0x493, ZXTOUT = 0x498, ZX_LP_SEL = 0x49A;
constexpr uint16_t SEQ_CYC = 0x49C, WFB_CFG = 0x4A0, CONFIG2 = 0x4AF, EP_CFG = 0x4B0, PWR_TIME = 0x4B1,
                   EGY_TIME = 0x4B2;
constexpr uint16_t TEMP_CFG = 0x4B6, PGA_GAIN = 0x4B9;
constexpr uint16_t CONFIG0 = 0x060;
}  // namespace reg9000

// STATUS0 bits the process cycle acts on.
constexpr uint32_t STATUS0_EGYRDY = 0x00000001;
constexpr uint32_t STATUS0_PWRRDY = 0x00040000;
constexpr uint32_t STATUS0_PAGE_FULL = 0x00800000;
constexpr uint32_t STATUS1_PHASE_SEQUENCE_ERROR = 0x00040000;
constexpr uint16_t WFB_CFG_CAPTURE = 0x0010;         // waveform buffer filling
constexpr uint32_t CHIP_NOT_ANSWERING = 0xFFFFFFFF;  // what a bus with no chip on it reads

#pragma pack(push, 1)

// One total: the journal (or accumulator) index written and the phase A, B, C
// indexes summed into it (TOTAL_VALUE_NONE = no such phase).
struct TOTAL_CALC_ENTRY {
    uint16_t unTotalOffset;
    uint16_t unValueOffset[3];
};

// The totals of one wiring: power (journal values), energy and demand
// (accumulator arrays), in that order.
struct TOTAL_CALC_TABLE {
    uint16_t unNumEntries[3];
    const TOTAL_CALC_ENTRY* ptceTable[3];
};

#pragma pack(pop)

constexpr uint16_t TOTAL_VALUE_NONE = 65535;
constexpr unsigned TOTAL_TABLE_POWER = 0, TOTAL_TABLE_ENERGY = 1, TOTAL_TABLE_DEMAND = 2;
constexpr uint16_t WIRING_CODES = 6;

// Signal flags in s_unSignalValidFlags.
constexpr uint16_t SIGNAL_VOLTAGE_A = 0x0001;  // B and C follow at << 1, << 2
constexpr uint16_t SIGNAL_CURRENT_A = 0x0010;
constexpr uint16_t SIGNAL_REVERSE_POWER = 0x0100;
constexpr uint16_t SIGNAL_DEMAND_OVER_LIMIT = 0x0200;

constexpr int ISR_PIN_IRQ1 = 12;
constexpr uint8_t CHIP_SELECT_PIN = 8;
constexpr uint8_t CHIP_RESET_PIN = 5;

// Not byte-packed: the object never crosses the plug-in boundary (the host sees
// only the MeasSOM slots), and packing would misalign the members handed out by
// reference, which the board's ARM core does not tolerate.
class QM9000 final : public MeasSOM {
public:
    QM9000();
    ~QM9000();

    int initialize(const char* pszCfgFName, MDT* pMDT, STATUS_AND_CONTROL* pStat) override;
    int updateConfig(const char* pszCfgFName) override;
    int process() override;
    int monitorStart() override;
    int monitorStop() override;
    int realtimeGet(int nType, void* pvResult, uint32_t ulMaxResult) override;
    int registerRead(uint32_t ulAddress, void* pvResult) override;
    int registerWrite(uint32_t ulAddress, void* pvSrc) override;

    // Chip set-up.
    int Configure9000();
    int Configure9000Regs();
    bool find();
    void meterOn();
    void meterOff();
    void initializeJrnlList();
    void dump();

    // Process cycle.
    void processIRQ();
    int processTest();
    int processCalibrate();

    // Calibration commands and the steps they share.
    int processCalPending();
    int processCalClean();
    int processCalStart();
    int processCalSave();
    int processCalCancel();
    int processCalVGain();
    int processCalIGain();
    int processCalVOS();
    int processCalIOS();
    int processCalPhase();
    int processCalPGain();
    int processCalPWOS();
    int processCalPVAROS();
    int processCalMultipointDefine();
    int processCalMultipointGain();
    int processCalMultipointPhase();
    int processCalMultipointEnable();
    int processCalWFBOS();
    bool calWaitEGYRDY(uint16_t unSecsTimeout);
    void calPrintLSBs();

    // Conversion and scaling.
    void initializeLSBs();
    void updateLSBs();
    void updateInputs();
    void processValues();
    void processValuesConversion();
    void processValuesValidateInputs();
    void processValuesTotals(const TOTAL_CALC_TABLE* ptctTotalCalcTable, unsigned unTableType,
                             float* pfValues);
    void processValuesEnergyDirection();
    void processRecordTotals();
    uint32_t getRawValue(uint16_t unAddress, uint16_t unSizeInBits);
    static uint16_t swapBytes(uint16_t unValue) { return ADE_9000::swapBytes(unValue); }
    static uint32_t swapWords(uint32_t ulValue) { return ADE_9000::swapWords(ulValue); }

    // Limits and recording windows.
    void processEvents();
    int realtimeTrigger();

    // Energy and demand intervals.
    void processEnergy();
    void processDemand();
    ACCUMULATOR_DATA workingIntervalSnapshot();

    // Phasors and waveform capture.
    void processPhasor();
    float angleScale();  // degrees per angle count at the measured line frequency
    void processWaveforms();
    void processHarmonics();
    void processTemperature();

    // Realtime requests.
    int realtimeGetVandI(int nType, void* pvResult, uint32_t ulMaxResult);
    int realtimeGetPhasor(int nType, void* pvResult, uint32_t ulMaxResult);
    int realtimeGetEnergy(int nType, void* pvResult, uint32_t ulMaxResult);
    int realtimeGetModbus(int nType, void* pvResult, uint32_t ulMaxResult);
    int realtimeGetScope(int nType, void* pvResult, uint32_t ulMaxResult);
    int realtimeGetJSONValues(int nType, void* pvResult, uint32_t ulMaxResult);
    int realtimeGetScaledJSONValues(int nType, void* pvResult, uint32_t ulMaxResult);
    int realtimeGetRegList(int nType, void* pvResult, uint32_t ulMaxResult);
    uint32_t realtimeCreateScaledRow(const char* pszDesc, const char* pszBaseUnits, const char* pszEndOfLine,
                                     bool bScale, float fRegA, float fRegB, float fRegC, float fTotal,
                                     char* pszResult, uint16_t uValFlags);

    // Totals by wiring code, and which values mean something for each wiring.
    static const TOTAL_CALC_ENTRY s_tcePowerSingle[7], s_tcePowerSplit[7], s_tcePowerWye[7],
        s_tcePowerDelta2[7], s_tcePowerDelta3[7];
    static const TOTAL_CALC_ENTRY s_tceEnergySingle[6], s_tceEnergySplit[6], s_tceEnergyWye[6],
        s_tceEnergyDelta2[6], s_tceEnergyDelta3[6];
    static const TOTAL_CALC_ENTRY s_tceDemandSingle[6], s_tceDemandSplit[6], s_tceDemandWye[6],
        s_tceDemandDelta2[6], s_tceDemandDelta3[6];
    static const TOTAL_CALC_TABLE s_ptceTotalsByWiring[WIRING_CODES];
    static const uint16_t s_unPowerValidByWiring[20][WIRING_CODES];
    static const uint16_t s_unEnergyValidByWiring[WIRING_CODES];
    static const uint16_t s_unDemandValidByWiring[WIRING_CODES];

    ADE_9000 m_ADE9000;
    Cfg9000 m_Cfg9000;
    CAccumulator m_Accumulator;
    Init9000 m_jsonInit;
    Cal9000 m_Cal9000;
    bool m_bFound;
    bool m_bMonitorOn;
    uint32_t m_ulMonitorWarmUp;
    bool m_bWarmUpPending;  // m_ulMonitorWarmUp holds the start (millis() may read 0 then)
    bool m_bTriggered;
    std::atomic<bool> m_bExpansionTrigger;
    bool m_bHalfCycleReady;
    bool m_bEnergyReady;
    bool m_bPowerReady;
    bool m_bGetWFB;
    bool m_bTemperatureReady;
    bool m_bExtraDigits;
    uint32_t m_ulLastStatus1;
    float m_fTempOffset;
    float m_fTempGain;
    float m_fTempHold9000;
    float m_fCPUHoldPi;
    uint16_t m_unWiring;
    uint16_t m_unComputeB;
    uint16_t m_unPGAGain;
    bool m_bHPFDisable;
    uint32_t m_nVoltageInputOrder;
    uint32_t m_nCurrentInputOrder;
    float m_fNominalFreq;
    float m_fNominalAmps;
    float m_fFullScaleAmps;
    bool m_bMultipointEnable;
    bool m_bRogowskiEnable;
    float m_fNominalVolts;
    float m_fFullScaleVoltsCorrected;
    float m_fFullScaleVolts;
    float m_fVNoiseFloor;
    float m_fINoiseFloor;
    float m_fFSVM_Wye;
    float m_fFSVM_Delta;
    float m_fPMAX_LSB, m_fVolts_LSB, m_fAmps_LSB, m_fFreq_Conv, m_fPF_LSB, m_fTHD_LSB, m_fAngle_LSB,
        m_fEnergy_LSB;
    float m_fRadians;
    float m_fCurrentAngleCal[3];
    float m_fWFBCalRatio[6];
    uint32_t m_ulWFBCalOffset[6];
    int16_t m_nWFBOSCounts;
    float m_fPTRatio, m_fPTRatioPrimary, m_fPTRatioSecondary;
    float m_fCTRatio, m_fCTRatioPrimary, m_fCTRatioSecondary;
    float m_fVHigh, m_fVLow, m_fIHigh, m_fILow;
    float m_fVHighPercent, m_fVLowPercent, m_fIHighPercent, m_fILowPercent;
    uint32_t m_ulLimitEnable;
    uint16_t m_unPreTrigCycles, m_unTotalTrigCycles;
    DATA_ACQ* m_pAcqBuffer;
    bool m_bEnergyEnable;
    uint32_t m_ulEnergyIntervalMinutes;
    float m_fDemandLimit;
    uint32_t m_ulNextCPUUsage;
    uint32_t m_ulLastPMUCoreTemp;
    uint32_t m_ulTickle0Timeout;
    uint32_t m_ulTickle1Timeout;
    bool m_bWaveformUpdated, m_bScopeRequested;
    uint16_t m_unWaveformDisplayIndex;
    uint16_t m_unWaveforms[2][6][128];
    BURST_READ_MAP_RECORD m_mrBurstReadMap[BURST_READ_MAP_ROWS];
    char m_pszJrnlName[jrnl_MAX][32];
    bool m_bDebugValues;
    // Guards the accumulator's interval records between the process cycle and
    // the realtime readers on the host's threads.
    std::mutex m_mutexIntervals;
    // Status reports believed at most once per half accumulation period.
    ReadyReportGate m_gateEnergyReady{"energy-ready"};
    ReadyReportGate m_gatePowerReady{"power-ready"};
    bool m_bToldNotAnswering = false;
    uint32_t m_ulToldNotAnsweringMillis = 0;

private:
    void closeRecord();
    void checkWarmUp();
    void openRecordingWindow();
    void applyVectorTotals(float* pfValues, uint16_t unWatt, uint16_t unVar, uint16_t unVA, uint16_t unFWatt,
                           uint16_t unFVar, uint16_t unFVA);
    uint16_t publishedIndex();
};
