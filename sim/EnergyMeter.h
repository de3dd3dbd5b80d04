// The chip's energy and power accumulation: integrates the power readings
// over virtual time while the chip runs, and at the end of each interval
// latches the energy registers (EGY_TIME + 1 samples, STATUS0 bit 0) and the
// power accumulation registers (PWR_TIME + 1 samples, STATUS0 bit 18). The
// intervals start when the chip starts running. Guarded by the board mutex.
//
// Per phase and quantity (watt, VAR, VA, fundamental watt, VAR, VA), with
// `sum` the power code integrated over the interval's samples (each reading
// counted for the time it stood, so changes inside an interval count pro
// rata):
//   xWATTHR_HI = sum >> 13, xWATTHR_LO = (sum & 0x1FFF) << 19
//     EP_CFG bit 0x0010 set: `sum` is the interval's own; clear: the running
//     total of all intervals (45 bits, wrapping)
//   xWATT_ACC  = sum / samples: the interval's average power code
// Nothing is latched or flagged while EP_CFG bit 0x0001 is clear.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "ChipModel.h"
#include "Clock.h"
#include "MeterModel.h"

namespace sim::detail {

class EnergyMeter {
public:
    enum class Kind { Energy, Power };
    // onBoundary(kind, generation) runs on the clock without the board mutex;
    // it takes the mutex, checks isCurrent() and calls completeInterval().
    using Handler = std::function<void(Kind, uint64_t generation)>;

    EnergyMeter(Clock& clock, ChipModel& chip, const MeterModel& meter, Handler onBoundary)
        : m_clock(clock), m_chip(chip), m_meter(meter), m_onBoundary(std::move(onBoundary)) {}

    void reset();
    // Adds the readings as they stand from the last integration up to now.
    // Called before anything changes them.
    void integrateTo(uint64_t nanos);
    // Starts the intervals when the chip starts running, stops them when it stops.
    void update(bool running);
    bool isCurrent(uint64_t generation) const { return m_running && generation == m_generation; }
    // The clock stands at the end of the interval of `kind`.
    void completeInterval(Kind kind);

private:
    using Sums = std::array<std::array<double, kEnergyQuantities>, kPhases>;
    struct Interval {
        uint64_t startNanos = 0;
        Sums sums{};
        EventId pending = 0;
    };

    void stop();
    void start(Kind kind, uint64_t nanos);
    Interval& interval(Kind kind) { return kind == Kind::Energy ? m_energy : m_power; }
    void latchEnergy(const Sums& sums);
    void latchPower(const Sums& sums, double samples);

    Clock& m_clock;
    ChipModel& m_chip;
    const MeterModel& m_meter;
    Handler m_onBoundary;

    bool m_running = false;
    uint64_t m_generation = 0;
    uint64_t m_integratedNanos = 0;
    Interval m_energy, m_power;
    std::array<std::array<int64_t, kEnergyQuantities>, kPhases> m_energyTotals{};  // 45-bit running totals
};

}  // namespace sim::detail
