#include "CalibrationBench.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <thread>

#include "HostBlock.h"
#include "JournalTables.h"
#include "Requests.h"
#include "Tables9000.h"

namespace {

constexpr uint64_t SETTLE_MILLIS = 300;  // measuring: records over the last few cycles
constexpr double PI = 3.14159265358979323846;
constexpr uint16_t PSEUDO_ADDRESS = 0xFFFF;  // not a chip register
constexpr uint32_t MULTIPOINT_REGIONS = 5;   // the current ranges the multipoint gains cover

const char* const COMMAND_NAMES[] = {
    "pending",
    "clean",
    "start",
    "save",
    "cancel",
    "voltage gain",
    "current gain",
    "voltage offsets",
    "current offsets",
    "phase",
    "power gain",
    "active power offsets",
    "reactive power offsets",
    "multipoint define",
    "multipoint gain",
    "multipoint phase",
    "multipoint enable",
    "waveform offset",
};

// The catalogue's address of a register, by its name.
uint16_t registerAddress(const std::string& name) {
    for (const ADE_REGISTER_DEFINITION& definition : g_rd9000RegisterDefs) {
        const char* pszName = definition.pszName;
        const size_t length = strcspn(pszName, " ");
        if (name.size() == length && name.compare(0, length, pszName, length) == 0)
            return definition.unAddress;
    }
    return PSEUDO_ADDRESS;
}

// Each name of `names` for phases A, B and C, followed by `suffix`.
void addPerPhase(std::vector<std::string>& constants, std::initializer_list<const char*> names,
                 const std::string& suffix = "") {
    for (const char* pszPhase : {"A", "B", "C"})
        for (const char* pszName : names) constants.push_back(pszPhase + std::string(pszName) + suffix);
}

// Every constant the commands compute, each once, in the order of the commands.
std::vector<std::string> listedNames() {
    std::vector<std::string> names;
    for (uint32_t ulCode = CAL_VGAIN; ulCode < CAL_COMMAND_COUNT; ulCode++)
        for (uint32_t ulRegion = 0; ulRegion < MULTIPOINT_REGIONS; ulRegion++)
            for (const std::string& name : calCommandConstants(ulCode, ulRegion))
                if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    return names;
}

double percentError(double dReading, double dTruth) {
    return (dReading - dTruth) / dTruth * 100.0;
}

// The calibrator drives every input, the neutral's included.
void driveLine(SimulatedLine* pLine, const CalQuantities& quantities, double dLagDegrees) {
    if (pLine) pLine->applyToEveryInput(quantities.fVolts, quantities.fAmps, dLagDegrees);
}

}  // namespace

std::vector<std::string> calCommandConstants(uint32_t ulCode, uint32_t ulRegion) {
    std::vector<std::string> constants;
    const std::string region = std::to_string(ulRegion);
    switch (ulCode) {
        case CAL_VGAIN:
            addPerPhase(constants, {"VGAIN"});
            break;
        case CAL_IGAIN:
            addPerPhase(constants, {"IGAIN"});
            constants.push_back("NIGAIN");
            break;
        case CAL_VOS:
            addPerPhase(constants, {"VRMSOS", "VFRMSOS", "VRMSONEOS", "VRMS1012OS"});
            break;
        case CAL_IOS:
            addPerPhase(constants, {"IRMSOS", "IFRMSOS", "IRMSONEOS", "IRMS1012OS"});
            for (const char* pszName : {"NIRMSOS", "NIRMSONEOS", "NIRMS1012OS"}) constants.push_back(pszName);
            break;
        case CAL_PHASE:
            addPerPhase(constants, {"PHCAL0"});
            break;
        case CAL_PGAIN:
            addPerPhase(constants, {"PGAIN"});
            break;
        case CAL_PWOS:
            addPerPhase(constants, {"WATTOS", "FWATTOS"});
            break;
        case CAL_PVAROS:
            addPerPhase(constants, {"VAROS", "FVAROS"});
            break;
        case CAL_MULTIPOINT_DEFINE:
            constants = {"MTTHR_L" + region, "MTTHR_H" + region};
            break;
        case CAL_MULTIPOINT_GAIN:
            addPerPhase(constants, {"IGAIN"}, region);
            break;
        case CAL_MULTIPOINT_PHASE:
            addPerPhase(constants, {"PHCAL"}, region);
            break;
        case CAL_WFBOS:
            constants.push_back("WFBOS");
            break;
        default:
            break;
    }
    return constants;
}

std::vector<std::string> uncalibratedConstants(uint32_t ulCode, uint32_t ulRegion,
                                               const std::string& calText) {
    std::vector<std::string> missing;
    for (const std::string& name : calCommandConstants(ulCode, ulRegion))
        if (calText.find("\"name\": \"" + name + "\"") == std::string::npos) missing.push_back(name);
    return missing;
}

const char* calCommandName(uint32_t ulCode) {
    if (ulCode < sizeof(COMMAND_NAMES) / sizeof(COMMAND_NAMES[0])) return COMMAND_NAMES[ulCode];
    if (ulCode == CAL_ACKNOWLEDGE) return "acknowledge";
    return "unknown";
}

const std::vector<uint32_t>& calSequence() {
    static const std::vector<uint32_t> sequence = {CAL_START,  CAL_VGAIN, CAL_IGAIN, CAL_VOS,
                                                   CAL_IOS,    CAL_PHASE, CAL_PGAIN, CAL_PWOS,
                                                   CAL_PVAROS, CAL_WFBOS, CAL_SAVE};
    return sequence;
}

std::string calibrationListFile() {
    std::string text = "{\r\n  \"startup\": {\r\n    \"registers\": [\r\n";
    const std::vector<std::string> names = listedNames();
    for (size_t i = 0; i < names.size(); i++) {
        char szLine[160];
        snprintf(szLine, sizeof(szLine),
                 "      {\"address\": \"0x%04X\", \"value\": 0, \"fvalue\": 0.000000, \"bits\": 32, "
                 "\"name\": \"%s\"}%s\r\n",
                 registerAddress(names[i]), names[i].c_str(), i + 1 < names.size() ? "," : "");
        text += szLine;
    }
    return text + "    ]\r\n  }\r\n}\r\n";
}

CalOutcome CalibrationBench::run(uint32_t ulCode, const CalQuantities& quantities) {
    const bool bLagging = ulCode == CAL_PHASE || ulCode == CAL_MULTIPOINT_PHASE;
    driveLine(m_pLine, quantities, bLagging ? CAL_TEST_LAG_DEGREES : 0.0);
    return post(ulCode, quantities);
}

CalOutcome CalibrationBench::acknowledge() {
    return post(CAL_ACKNOWLEDGE, CalQuantities{});
}

CalOutcome CalibrationBench::post(uint32_t ulCode, const CalQuantities& quantities) {
    pthread_mutex_t* pMutex = QM_BLOCK_MUTEX(m_block, s_mutexOpMode);
    pthread_mutex_lock(pMutex);
    m_block.s_fCalVolts = quantities.fVolts;
    m_block.s_fCalAmps = quantities.fAmps;
    m_block.s_ulCalRegion = quantities.ulRegion;
    m_block.s_fCalThreshLo = quantities.fThreshLo;
    m_block.s_fCalThreshHi = quantities.fThreshHi;
    m_block.s_ulCalOption = quantities.ulOption;
    m_block.s_ulCalMode = ulCode;
    m_block.s_ulOpMode = OPMODE_CALIBRATE;
    pthread_mutex_unlock(pMutex);

    const uint64_t ullStart = nowMicros();
    CalOutcome outcome{ulCode, m_module.process(), 0, 0, 0};
    outcome.dSeconds = static_cast<double>(nowMicros() - ullStart) / 1e6;
    pthread_mutex_lock(pMutex);
    outcome.ulCalMode = m_block.s_ulCalMode;
    outcome.ulOpMode = m_block.s_ulOpMode;
    pthread_mutex_unlock(pMutex);
    return outcome;
}

std::vector<CalOutcome> CalibrationBench::runSequence(const CalQuantities& quantities) {
    std::vector<CalOutcome> outcomes;
    for (uint32_t ulCode : calSequence()) {
        outcomes.push_back(run(ulCode, quantities));
        if (outcomes.back().nResult != 0) {
            outcomes.push_back(acknowledge());
            break;
        }
    }
    return outcomes;
}

uint64_t CalibrationBench::nowMicros() const {
    if (m_pLine) return m_pLine->nowMicros();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void CalibrationBench::measureFor(uint64_t ullMillis) {
    const uint64_t ullEnd = nowMicros() + ullMillis * 1000;
    while (nowMicros() < ullEnd) {
        const uint64_t ullStep = std::min<uint64_t>(1000, ullEnd - nowMicros());
        if (m_pLine)
            m_pLine->advance(ullStep);
        else
            std::this_thread::sleep_for(std::chrono::microseconds(ullStep));
        m_module.process();
    }
}

MeterErrors CalibrationBench::measure(const CalQuantities& quantities) {
    pthread_mutex_t* pMutex = QM_BLOCK_MUTEX(m_block, s_mutexOpMode);
    pthread_mutex_lock(pMutex);
    m_block.s_ulOpMode = OPMODE_MEASURE;
    pthread_mutex_unlock(pMutex);

    std::vector<float> inPhase(MODBUS_FLOATS);
    std::vector<float> lagging(MODBUS_FLOATS, std::numeric_limits<float>::quiet_NaN());
    driveLine(m_pLine, quantities, 0.0);
    measureFor(SETTLE_MILLIS);
    m_module.realtimeGet(REQ_MODBUS, inPhase.data(), MODBUS_FLOATS * sizeof(float));
    if (m_pLine) {
        driveLine(m_pLine, quantities, CAL_TEST_LAG_DEGREES);
        measureFor(SETTLE_MILLIS);
        m_module.realtimeGet(REQ_MODBUS, lagging.data(), MODBUS_FLOATS * sizeof(float));
    }

    const double dVolts = quantities.fVolts, dAmps = quantities.fAmps;
    const double dWatts = dVolts * dAmps;
    const double dWattsLagging = dWatts * std::cos(CAL_TEST_LAG_DEGREES * PI / 180.0);
    MeterErrors errors{};
    for (int p = 0; p < 3; p++) {
        errors.phase[p].dVolts = percentError(inPhase[jrnl_VRMS_A + p], dVolts);
        errors.phase[p].dAmps = percentError(inPhase[jrnl_IRMS_A + p], dAmps);
        errors.phase[p].dWatts = percentError(inPhase[jrnl_WATT_A + p], dWatts);
        errors.phase[p].dWattsLagging = percentError(lagging[jrnl_WATT_A + p], dWattsLagging);
    }
    errors.dNeutralAmps = percentError(inPhase[jrnl_NIRMS], dAmps);
    return errors;
}
