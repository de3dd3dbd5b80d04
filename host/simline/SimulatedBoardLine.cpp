// libqmsimline.so: the host's SimulatedLine (SimulatedLine.h) on the
// simulated board of libqmsimcore.so, the same board libqmsim.so gives the
// module.
#include <cmath>
#include <stdexcept>

#include "ModuleTable.h"
#include "Scenarios.h"
#include "Sim.h"
#include "SimulatedLine.h"
#include "WeekProgram.h"

static_assert(sim::kEepromAddress == MODULE_EEPROM_ADDRESS,
              "the simulated EEPROM answers where the module's does");

namespace {

constexpr uint64_t SECOND = 1000000;
constexpr uint64_t FIRST_EVENT = 5 * SECOND;  // time to look at the steady meter first
constexpr uint64_t REPEAT = 20 * SECOND;
constexpr uint64_t EVENT_LENGTH = 3 * SECOND;
constexpr uint64_t DEFAULT_SPAN = 3600 * SECOND;
// "drift": ±5 % about the nominal voltage over 10 s, within the dip and
// swell thresholds, a new voltage each half-cycle at 50 Hz.
constexpr uint64_t DRIFT_STEP = 10000, DRIFT_PERIOD = 10 * SECOND;
constexpr double DRIFT_DEPTH = 0.05;

void drift(uint64_t ullStart, uint64_t ullAt, uint64_t ullEnd) {
    const double dPhase = 2 * M_PI * static_cast<double>(ullAt - ullStart) / DRIFT_PERIOD;
    for (sim::Phase phase : {sim::Phase::A, sim::Phase::B, sim::Phase::C})
        sim::setPhaseVolts(phase, sim::PhaseSignal{}.volts * (1 + DRIFT_DEPTH * std::sin(dPhase)));
    if (ullAt + DRIFT_STEP < ullEnd)
        sim::schedule(ullAt + DRIFT_STEP, [=] { drift(ullStart, ullAt + DRIFT_STEP, ullEnd); });
}

class SimulatedBoardLine final : public SimulatedLine {
public:
    void reset() override { sim::reset(); }
    void runInRealTime() override { sim::setClockMode(sim::ClockMode::RealTime); }
    void limitSpiLog(size_t frames) override { sim::setSpiLogLimit(frames); }
    uint64_t nowMicros() override { return sim::nowMicros(); }
    void advance(uint64_t micros) override { sim::advance(micros); }

    double fullScaleVolts() override { return sim::fullScaleVolts(); }
    double fullScaleAmps() override { return sim::fullScaleAmps(); }
    void setFullScale(double volts, double amps) override { sim::setFullScale(volts, amps); }
    void setChannelError(LineChannel channel, const LineChannelError& error) override {
        sim::setChannelError(static_cast<sim::Channel>(channel),
                             {error.gainPercent, error.rmsOffset, error.phaseDegrees, error.dcOffsetCounts});
    }
    void setPowerOffset(LinePhase phase, double watts, double vars) override {
        sim::setPowerOffset(static_cast<sim::Phase>(phase), watts, vars);
    }

    void applyToEveryInput(double volts, double amps, double lagDegrees) override {
        for (sim::Phase phase : {sim::Phase::A, sim::Phase::B, sim::Phase::C})
            sim::setPhase(phase, {volts, amps, lagDegrees, {}, {}});
        sim::setNeutralAmps(amps);
    }

    void scheduleScenario(const std::string& name, uint64_t startMicros, uint64_t durationMicros) override {
        if (!isScenario(name)) throw std::invalid_argument("no scenario named " + name);
        if (name == "voltage-unbalance") {
            sim::setPhaseVolts(sim::Phase::B, 0.95 * sim::phaseSignal(sim::Phase::B).volts);
            sim::setVoltageAngle(sim::Phase::B, sim::voltageAngle(sim::Phase::B) + 2.0);
            return;
        }
        if (name == "week") return scheduleWeek(startMicros + WEEK_LEAD_SECONDS * SECOND);
        const uint64_t ullEnd = startMicros + (durationMicros ? durationMicros : DEFAULT_SPAN);
        if (name == "drift") return drift(startMicros, startMicros, ullEnd);
        for (uint64_t at = startMicros + FIRST_EVENT; at < ullEnd; at += REPEAT) {
            if (name == "swell") {
                sim::swell(sim::Phase::A, 1.15, at, EVENT_LENGTH);  // 230 V to 264.5 V
            } else if (name == "sag") {
                sim::sag(sim::Phase::B, 0.6, at, EVENT_LENGTH);
            } else if (name == "phase-loss") {
                sim::losePhase(sim::Phase::C, at, EVENT_LENGTH);
            } else if (name == "unbalanced") {
                sim::unbalancedLoad({5.0, 8.5, 2.0}, {36.87, 10.0, 60.0}, at);
                sim::unbalancedLoad({5.0, 5.0, 5.0}, {36.87, 36.87, 36.87}, at + EVENT_LENGTH);
            }
        }
    }

    // The week's program from `mondayMicros` on the board's clock.
    static void scheduleWeek(uint64_t mondayMicros) {
        for (const WeekEvent& event : weekProgram()) {
            const uint64_t at = mondayMicros + static_cast<uint64_t>(event.llOffsetSeconds) * SECOND;
            const uint64_t length = static_cast<uint64_t>(event.dSeconds * SECOND);
            const sim::Phase phase = static_cast<sim::Phase>(event.nPhase);
            switch (event.change) {
                case WeekChange::dip:
                    sim::sag(phase, event.dValue, at, length);
                    break;
                case WeekChange::swell:
                    sim::swell(phase, event.dValue, at, length);
                    break;
                case WeekChange::frequency:
                    sim::frequencyStep(event.dValue, at);
                    sim::frequencyStep(sim::lineFrequency(), at + length);
                    break;
                case WeekChange::unbalance:
                    // A sag without its own end, and the angle, both undone together.
                    sim::sag(phase, event.dValue, at, length);
                    sim::schedule(
                        at, [=] { sim::setVoltageAngle(phase, sim::voltageAngle(phase) + event.dDegrees); });
                    sim::schedule(at + length, [=] {
                        sim::setVoltageAngle(phase, sim::voltageAngle(phase) - event.dDegrees);
                    });
                    break;
                case WeekChange::harmonics:
                    sim::schedule(at, [=] {
                        sim::setHarmonics(phase, sim::Quantity::Voltage, {{5, event.dValue}});
                    });
                    sim::schedule(at + length, [=] { sim::setHarmonics(phase, sim::Quantity::Voltage, {}); });
                    break;
            }
        }
    }

    void attachEepromImage(const std::string& path) override { sim::attachEepromImage(path); }
    void detachEepromImage() override { sim::detachEepromImage(); }
};

}  // namespace

extern "C" SimulatedLine* qmSimulatedLine(void) {
    static SimulatedBoardLine line;
    return &line;
}
