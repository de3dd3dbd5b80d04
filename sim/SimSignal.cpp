// The test face of the line signal, its scripted changes, and the measuring
// board's scale and errors (Sim.h).
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <stdexcept>

#include "Sim.h"
#include "TestFaceAccess.h"

namespace sim {

using detail::board;
using detail::LineSignal;
using detail::locked;

namespace {

int index(Phase phase) {
    return static_cast<int>(phase);
}

// Applies an edit to the line now.
template <typename Edit>
void editLine(Edit&& edit) {
    board().update([&] { board().changeLine(std::forward<Edit>(edit)); });
}

void editPhase(Phase phase, const std::function<void(PhaseSignal&)>& edit) {
    PhaseSignal signal = phaseSignal(phase);
    edit(signal);
    setPhase(phase, signal);
}

void requireFinite(double value, const char* what) {
    if (!std::isfinite(value)) throw std::invalid_argument(std::string(what) + " must be finite");
}

void requireTime(uint64_t startMicros, uint64_t durationMicros) {
    if (startMicros + durationMicros < startMicros)
        throw std::invalid_argument("change ends past the clock's range");
}

// Runs `begin` at startMicros; unless the change is permanent, `begin`
// returns what undoes it, which runs durationMicros later.
void scriptChange(uint64_t startMicros, uint64_t durationMicros,
                  std::function<std::function<void()>()> begin) {
    requireTime(startMicros, durationMicros);
    const uint64_t now = nowMicros();
    startMicros = std::max(startMicros, now);
    auto run = [startMicros, durationMicros, begin = std::move(begin)] {
        std::function<void()> undo = begin();
        if (durationMicros != 0 && undo) schedule(startMicros + durationMicros, std::move(undo));
    };
    if (startMicros == now)
        run();
    else
        schedule(startMicros, std::move(run));
}

void scaleVoltage(Phase phase, double factor, uint64_t startMicros, uint64_t durationMicros) {
    if (!std::isfinite(factor) || factor < 0)
        throw std::invalid_argument("voltage factor must be finite and >= 0");
    scriptChange(startMicros, durationMicros, [phase, factor]() -> std::function<void()> {
        const double before = phaseSignal(phase).volts;
        setPhaseVolts(phase, before * factor);
        return [phase, before] { setPhaseVolts(phase, before); };
    });
}

}  // namespace

// ---- The line signal ----

void setPhase(Phase phase, const PhaseSignal& signal) {
    detail::validate(signal);
    editLine([&](LineSignal& line) { line.phases[index(phase)] = signal; });
}

PhaseSignal phaseSignal(Phase phase) {
    return locked([phase] { return board().history.current().phases[index(phase)]; });
}

void setPhaseVolts(Phase phase, double volts) {
    editPhase(phase, [volts](PhaseSignal& s) { s.volts = volts; });
}

void setPhaseAmps(Phase phase, double amps) {
    editPhase(phase, [amps](PhaseSignal& s) { s.amps = amps; });
}

void setCurrentLag(Phase phase, double degrees) {
    editPhase(phase, [degrees](PhaseSignal& s) { s.currentLagDegrees = degrees; });
}

void setHarmonics(Phase phase, Quantity quantity, const std::vector<Harmonic>& harmonics) {
    editPhase(phase, [&](PhaseSignal& s) {
        (quantity == Quantity::Voltage ? s.voltageHarmonics : s.currentHarmonics) = harmonics;
    });
}

void setVoltageAngle(Phase phase, double lagDegrees) {
    requireFinite(lagDegrees, "voltage angle");
    editLine([&](LineSignal& line) { line.voltageLagDegrees[index(phase)] = lagDegrees; });
}

double voltageAngle(Phase phase) {
    return locked([phase] { return board().history.current().voltageLagDegrees[index(phase)]; });
}

void setNeutralAmps(double amps) {
    if (std::isnan(amps) || std::isinf(amps)) throw std::invalid_argument("neutral amps must be finite");
    editLine([&](LineSignal& line) { line.neutralAmps = amps < 0 ? -1.0 : amps; });
}

// ---- Scripted changes ----

void sag(Phase phase, double factor, uint64_t startMicros, uint64_t durationMicros) {
    scaleVoltage(phase, factor, startMicros, durationMicros);
}

void swell(Phase phase, double factor, uint64_t startMicros, uint64_t durationMicros) {
    scaleVoltage(phase, factor, startMicros, durationMicros);
}

void losePhase(Phase phase, uint64_t startMicros, uint64_t durationMicros) {
    scriptChange(startMicros, durationMicros, [phase]() -> std::function<void()> {
        const PhaseSignal before = phaseSignal(phase);
        editPhase(phase, [](PhaseSignal& s) { s.volts = s.amps = 0; });
        return [phase, before] {
            editPhase(phase, [&](PhaseSignal& s) {
                s.volts = before.volts;
                s.amps = before.amps;
            });
        };
    });
}

void frequencyStep(double hertz, uint64_t atMicros) {
    if (!(hertz >= 0) || std::isinf(hertz))
        throw std::invalid_argument("line frequency must be finite and >= 0");
    scriptChange(atMicros, 0, [hertz]() -> std::function<void()> {
        setLineFrequency(hertz);
        return nullptr;
    });
}

void unbalancedLoad(const std::array<double, 3>& amps, const std::array<double, 3>& lagDegrees,
                    uint64_t atMicros) {
    for (int p = 0; p < 3; ++p) {
        if (!std::isfinite(amps[p]) || amps[p] < 0)
            throw std::invalid_argument("phase amps must be finite and >= 0");
        requireFinite(lagDegrees[p], "current lag");
    }
    scriptChange(atMicros, 0, [amps, lagDegrees]() -> std::function<void()> {
        editLine([&](LineSignal& line) {
            for (int p = 0; p < 3; ++p) {
                line.phases[p].amps = amps[p];
                line.phases[p].currentLagDegrees = lagDegrees[p];
            }
        });
        return nullptr;
    });
}

// ---- Scale and errors ----

namespace {

template <typename Edit>
void editSetup(Edit&& edit) {
    board().update([&] {
        std::forward<Edit>(edit)(board().setup);
        ++board().setup.version;
    });
}

void checkError(const ChannelError& error) {
    requireFinite(error.gainPercent, "gain error");
    requireFinite(error.rmsOffset, "RMS offset");
    requireFinite(error.phaseDegrees, "phase error");
    if (error.gainPercent <= -100) throw std::invalid_argument("gain error must be above -100 %");
}

}  // namespace

void setFullScale(double volts, double amps) {
    if (!(volts > 0) || !(amps > 0) || std::isinf(volts) || std::isinf(amps))
        throw std::invalid_argument("full scale must be finite and > 0");
    editSetup([&](detail::MeterSetup& setup) {
        setup.fullScaleVolts = volts;
        setup.fullScaleAmps = amps;
    });
}

double fullScaleVolts() {
    return locked([] { return board().setup.fullScaleVolts; });
}

double fullScaleAmps() {
    return locked([] { return board().setup.fullScaleAmps; });
}

void setChannelError(Channel channel, const ChannelError& error) {
    checkError(error);
    editSetup([&](detail::MeterSetup& setup) { setup.errors[static_cast<int>(channel)] = error; });
}

ChannelError channelError(Channel channel) {
    return locked([channel] { return board().setup.errors[static_cast<int>(channel)]; });
}

void setGainError(Channel channel, double percent) {
    ChannelError error = channelError(channel);
    error.gainPercent = percent;
    setChannelError(channel, error);
}

void setRmsOffset(Channel channel, double voltsOrAmps) {
    ChannelError error = channelError(channel);
    error.rmsOffset = voltsOrAmps;
    setChannelError(channel, error);
}

void setPhaseError(Phase phase, double degrees) {
    const auto channel = static_cast<Channel>(2 * index(phase));
    ChannelError error = channelError(channel);
    error.phaseDegrees = degrees;
    setChannelError(channel, error);
}

void setPowerOffset(Phase phase, double watts, double vars) {
    requireFinite(watts, "power offset");
    requireFinite(vars, "reactive power offset");
    editSetup([&](detail::MeterSetup& setup) {
        setup.wattOffset[index(phase)] = watts;
        setup.varOffset[index(phase)] = vars;
    });
}

void clearErrors() {
    editSetup([](detail::MeterSetup& setup) {
        setup.errors = {};
        setup.wattOffset = {};
        setup.varOffset = {};
    });
}

}  // namespace sim
