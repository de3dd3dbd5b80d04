// The host's shared status-and-control block. The host owns it; the plug-in
// binds to it at initialize. Shared by layout: order and widths bind, so the
// block is byte-packed and the board build pins every offset below.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "AccumulatorTables.h"
#include "JournalTables.h"

class CfgProbe;

constexpr unsigned ACQ_BUFFER_RECORDS = 4096;

#pragma pack(push, 1)

// Time and limit bits of the last trigger start.
struct EVENT_INFO {
    time_t ttEvent;
    uint32_t ulLimitStatus;
};

struct STATUS_AND_CONTROL {
    pthread_cond_t s_condDataAvailable;
    pthread_cond_t s_condSnapshotAvailable;
    pthread_cond_t s_condBacNetReady;
    pthread_cond_t s_condBuzzer;
    pthread_cond_t s_condDBCleanup;

    pthread_mutex_t s_mutexClosing;
    pthread_mutex_t s_mutexMonitoring;
    pthread_mutex_t s_mutexEventIDs;
    pthread_mutex_t s_mutexLastEventInfo;
    pthread_mutex_t s_mutexAcqBuffer;
    pthread_mutex_t s_mutexDatabase;
    pthread_mutex_t s_mutexDBCleanup;
    pthread_mutex_t s_mutexSnapshot;
    pthread_mutex_t s_mutexBacNet;
    pthread_mutex_t s_mutexBuzzer;
    pthread_mutex_t s_mutexOpMode;
    pthread_mutex_t s_mutexBattery;
    pthread_mutex_t s_mutexGPS;
    pthread_mutex_t s_mutexJournal;
    pthread_mutex_t s_mutexIPSetup;
    pthread_mutex_t s_mutexSPI1;
    pthread_mutex_t s_mutexRSEB;

    DATA_ACQ s_AcquisitionBuffer[ACQ_BUFFER_RECORDS];

    // Two-byte flags.
    uint16_t s_bClosing;
    uint16_t s_bPreClose;
    uint16_t s_bMonitoring;
    uint16_t s_bStateChanged;

    uint32_t s_ulExpansionState;
    uint32_t s_ulTimeSinceStart;

    uint16_t s_unSignalValidFlags;
    uint16_t s_bPhaseSequenceError;

    uint32_t s_ulLimitStatusBits;
    char s_pszSurveyName[64];

    float s_fBatteryPercent;
    uint32_t s_ulBatteryMillisRemain;
    uint32_t s_ulPowerFlags;

    uint16_t s_unAcqBufferNextIn;
    uint16_t s_unAcqBufferJournal;
    uint16_t s_unAcqBufferAccum;
    uint16_t s_unAcqBufferNextData;
    uint16_t s_unAcqBufferUI;
    uint16_t s_unAcqBufferComm;
    uint16_t s_unAcqBufferNextWrite;
    uint16_t s_unAcqBufferLastWrite;

    uint32_t s_ulEventFirstRecordID;
    uint32_t s_ulEventLastRecordID;
    uint32_t s_ulEventSeconds;
    uint32_t s_ulEventMicroSeconds;

    float s_fEventVMin[3];
    float s_fEventVMax[3];
    float s_fEventIMin[3];
    float s_fEventIMax[3];

    uint32_t s_ulTimeSourceFlags;
    int32_t s_nTimezoneOffset;

    bool s_bFilesSplitInLocal;
    bool s_bTimeWasUpdated;

    EVENT_INFO s_eiLastEventInfo;

    bool s_bDeleteAllData;

    int (*i2c_begin_ptr)();
    void (*i2c_end_ptr)();
    ACCUMULATOR_DATA* s_pLastAccumulator;
    uint32_t s_ulOpMode;
    uint32_t s_ulCalMode;
    float s_fCalVolts;
    float s_fCalAmps;
    float s_fCalPower;
    uint32_t s_ulCalRegion;
    float s_fCalThreshLo;
    float s_fCalThreshHi;
    uint32_t s_ulCalOption;
    uint32_t s_ulFwMode;

    uint16_t s_unWiring;
    bool s_bComputeB;
    void* s_pMqttHandlerSingleton;

    char s_pszSN[32];
    char s_pszModel[32];
    char s_pszIP[20];
    char s_pszSubnet[20];
    char s_pszGateway[20];
    char s_pszIFace[20];
    char s_pszMAC[20];
    bool s_bDHCP;
    char s_pszWifiIP[20];

    char s_pszActiveConfig[256];
    char s_pszActiveCal[256];
    char s_pszActiveDB[256];
    char s_pszDeletedLast[256];

    char s_pszInstalledMeasure[32];
    char s_pszInstalledUI[32];
    char s_pszInstalledExpansions[512];

    CfgProbe* s_pCfgProbe;
    char s_pszKernelVersion[257];
    char s_pszLanguage[3];
};

#pragma pack(pop)

// The board (32-bit ARM, glibc) is the layout the host was built against.
#if defined(__arm__)
static_assert(sizeof(void*) == 4 && sizeof(time_t) == 4, "board ABI: 32-bit pointers and time_t");
static_assert(sizeof(pthread_cond_t) == 48 && sizeof(pthread_mutex_t) == 24, "board ABI: pthread sizes");
static_assert(sizeof(EVENT_INFO) == 8, "EVENT_INFO layout");
static_assert(sizeof(ACCUMULATOR_DATA) == 392, "ACCUMULATOR_DATA layout");
static_assert(sizeof(STATUS_AND_CONTROL) == 1198987, "STATUS_AND_CONTROL size");
static_assert(offsetof(STATUS_AND_CONTROL, s_mutexClosing) == 240, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_AcquisitionBuffer) == 648, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_bClosing) == 1196680, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_ulExpansionState) == 1196688, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_unSignalValidFlags) == 1196696, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_bPhaseSequenceError) == 1196698, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_ulLimitStatusBits) == 1196700, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pszSurveyName) == 1196704, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_fBatteryPercent) == 1196768, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_unAcqBufferNextIn) == 1196780, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_unAcqBufferUI) == 1196788, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_unAcqBufferNextWrite) == 1196792, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_unAcqBufferLastWrite) == 1196794, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_ulEventFirstRecordID) == 1196796, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_fEventVMin) == 1196812, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_ulTimeSourceFlags) == 1196860, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_bFilesSplitInLocal) == 1196868, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_eiLastEventInfo) == 1196870, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_bDeleteAllData) == 1196878, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, i2c_begin_ptr) == 1196879, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pLastAccumulator) == 1196887, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_ulOpMode) == 1196891, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_ulCalMode) == 1196895, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_fCalVolts) == 1196899, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_ulCalOption) == 1196923, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_ulFwMode) == 1196927, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_unWiring) == 1196931, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_bComputeB) == 1196933, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pMqttHandlerSingleton) == 1196934, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pszSN) == 1196938, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pszIP) == 1197002, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_bDHCP) == 1197102, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pszWifiIP) == 1197103, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pszActiveConfig) == 1197123, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pszActiveCal) == 1197379, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pszActiveDB) == 1197635, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pszDeletedLast) == 1197891, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pszInstalledMeasure) == 1198147, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pszInstalledExpansions) == 1198211, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pCfgProbe) == 1198723, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pszKernelVersion) == 1198727, "layout");
static_assert(offsetof(STATUS_AND_CONTROL, s_pszLanguage) == 1198984, "layout");
#endif
