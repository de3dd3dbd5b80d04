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

std::vector<std::string> listedNames() {
    std::vector<std::string> names;
    const char* const perPhase[] = {
        "IGAIN",      "VGAIN",      "IRMSOS", "VRMSOS", "IFRMSOS", "VFRMSOS", "IRMSONEOS", "VRMSONEOS",
        "IRMS1012OS", "VRMS1012OS", "PHCAL0", "PGAIN",  "WATTOS",  "FWATTOS", "VAROS",     "FVAROS"};
    for (const char* pszPhase : {"A", "B", "C"})
        for (const char* pszName : perPhase) names.push_back(std::string(pszPhase) + pszName);
    for (const char* pszName : {"NIGAIN", "NIRMSOS", "NIRMSONEOS", "NIRMS1012OS"}) names.push_back(pszName);
    for (int r = 0; r < 5; r++) {
        names.push_back("MTTHR_L" + std::to_string(r));
        names.push_back("MTTHR_H" + std::to_string(r));
        for (const char* pszPhase : {"A", "B", "C"}) {
            names.push_back(std::string(pszPhase) + "IGAIN" + std::to_string(r));
            if (r > 0) names.push_back(std::string(pszPhase) + "PHCAL" + std::to_string(r));
        }
    }
    names.push_back("WFBOS");
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
