// The simulated board as the host's tools drive it: its clock, the line it
// measures, the errors of its channels and its EEPROM's image file. The
// simulator itself lives in libqmsimline.so (on the simulated board's
// libqmsimcore.so), which qmhost loads at run time with --board sim, as it
// loads the board's own library; qmhost links no part of the simulator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class LinePhase { A = 0, B = 1, C = 2 };
// The chip's input channels in waveform-buffer order, then the neutral.
enum class LineChannel { IA = 0, VA = 1, IB = 2, VB = 3, IC = 4, VC = 5, IN = 6 };

// What a channel gets wrong before calibration corrects it.
struct LineChannelError {
    double gainPercent = 0.0;   // reading too high by this percent
    double rmsOffset = 0.0;     // volts or amps added in quadrature to every RMS
    double phaseDegrees = 0.0;  // current channels: extra lag of the measured current
    int dcOffsetCounts = 0;     // added to the channel's waveform samples only
};

// Impossible values (a negative full scale, a non-finite error) throw
// std::invalid_argument; an unusable image file std::runtime_error or
// std::invalid_argument, with a message that says why.
class SimulatedLine {
public:
    virtual ~SimulatedLine() = default;

    // The board at power-on, on its virtual clock: default line, no errors, a
    // blank EEPROM in memory.
    virtual void reset() = 0;
    // From now on the board's clock follows real time (the live meter).
    virtual void runInRealTime() = 0;
    // A long run keeps only the latest `frames` SPI frames in the board's log.
    virtual void limitSpiLog(size_t frames) = 0;
    virtual uint64_t nowMicros() = 0;
    // Moves the virtual clock on, firing what falls due.
    virtual void advance(uint64_t micros) = 0;

    // The full scale the board is built for (peak volts and amps).
    virtual double fullScaleVolts() = 0;
    virtual double fullScaleAmps() = 0;
    virtual void setFullScale(double volts, double amps) = 0;
    virtual void setChannelError(LineChannel channel, const LineChannelError& error) = 0;
    // Added to the phase's active and reactive power ahead of its gain.
    virtual void setPowerOffset(LinePhase phase, double watts, double vars) = 0;

    // A calibrator on every input: each phase at `volts` and `amps`, the
    // current lagging by `lagDegrees`, and `amps` in the neutral.
    virtual void applyToEveryInput(double volts, double amps, double lagDegrees) = 0;
    // The named scenario's disturbances from startMicros for durationMicros
    // (0: an hour). Names: scenarioNames() in Scenarios.h.
    virtual void scheduleScenario(const std::string& name, uint64_t startMicros, uint64_t durationMicros) = 0;

    // Backs the module's EEPROM by an image file (created blank when
    // missing), so what is written persists between runs.
    virtual void attachEepromImage(const std::string& path) = 0;
    virtual void detachEepromImage() = 0;
};

// The symbol qmhost looks up in libqmsimline.so: the simulated board's line.
extern "C" __attribute__((visibility("default"))) SimulatedLine* qmSimulatedLine(void);
