// A calibration bench around the loaded module: it applies the test signal
// each calibration command needs, posts the command through the host block as
// the meter's host does, and measures how far the meter's readings are from
// the applied truth.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HostCommands.h"
#include "MeasSOM.h"
#include "RPi.h"
#include "SimulatedLine.h"

// What the bench applies and writes into the block with a command.
struct CalQuantities {
    float fVolts = 230.0f;
    float fAmps = 5.0f;
    uint32_t ulRegion = 0;
    float fThreshLo = 0.0f;
    float fThreshHi = 0.0f;
    uint32_t ulOption = 0;
};

// One command as the host saw it.
struct CalOutcome {
    uint32_t ulCode;
    int nResult;         // what process returned
    uint32_t ulCalMode;  // the block after the call
    uint32_t ulOpMode;
    double dSeconds;  // board time the call took
};

// Reading minus truth, in percent of the truth, per channel.
struct PhaseErrors {
    double dVolts, dAmps;
    double dWatts;         // in phase (power factor 1)
    double dWattsLagging;  // current lagging 60 degrees (power factor 0.5); NaN when not measured
};
struct MeterErrors {
    PhaseErrors phase[3];
    double dNeutralAmps;
};

constexpr double CAL_TEST_LAG_DEGREES = 60.0;  // the phase commands' test signal

// "voltage gain" for 5, ...; "unknown" for codes without a command.
const char* calCommandName(uint32_t ulCode);

// The order of a full calibration: start, gains, offsets, phase, power gain,
// power offsets, waveform offset, save.
const std::vector<uint32_t>& calSequence();

// The constants a command computes, by name ("AVGAIN", ..., "NIGAIN"); the
// multipoint commands' those of the region given. None for the others.
std::vector<std::string> calCommandConstants(uint32_t ulCode, uint32_t ulRegion);
// Those of them the calibration file's text does not list: the module
// computes them and leaves them as they were.
std::vector<std::string> uncalibratedConstants(uint32_t ulCode, uint32_t ulRegion,
                                               const std::string& calText);

// A calibration file in the saved format listing, at zero, every constant the
// calibration commands compute (the waveform offset included).
std::string calibrationListFile();

class CalibrationBench {
public:
    // Where the test signals come from. A simulated line: the bench drives it
    // and runs on the board's virtual clock. None: a technician applies the
    // quantities in phase to the real board and the bench runs in real time;
    // it cannot lag the current, so that test is not measured.
    CalibrationBench(MeasSOM& module, STATUS_AND_CONTROL& block, SimulatedLine* pLine)
        : m_module(module), m_block(block), m_pLine(pLine) {}

    // On the simulated line applies the command's test signal (every current
    // input driven, the neutral included); posts the command with the
    // quantities, and makes one process call, which runs it.
    CalOutcome run(uint32_t ulCode, const CalQuantities& quantities);
    // The process call after a failure: the module acknowledges it and returns
    // to measuring.
    CalOutcome acknowledge();
    // Runs calSequence(); a failure is acknowledged and ends the sequence.
    std::vector<CalOutcome> runSequence(const CalQuantities& quantities);

    // In measuring mode: the applied values in phase, then (simulated line)
    // with the current lagging 60 degrees, each for a few hundred
    // milliseconds of process calls.
    MeterErrors measure(const CalQuantities& quantities);

private:
    CalOutcome post(uint32_t ulCode, const CalQuantities& quantities);
    void measureFor(uint64_t ullMillis);
    uint64_t nowMicros() const;  // the board's clock

    MeasSOM& m_module;
    STATUS_AND_CONTROL& m_block;
    SimulatedLine* m_pLine;
};
