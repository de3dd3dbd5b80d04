// The whole simulated board: one mutex over the clock, GPIO, SPI bus, chip,
// line, EEPROM and I2C bus, and the glue between them (reset pin to chip,
// IRQ1 line to the ISR, the chip's running state to its half-cycle events,
// energy intervals and waveform pages).
//
// Locking: every member below is guarded by `mutex`. The module's interrupt
// routine and event callbacks always run with it released, so they may call
// back into the board.
#pragma once

#include <cstdint>
#include <mutex>
#include <random>
#include <utility>

#include "ChipModel.h"
#include "ChipRegisters.h"
#include "Clock.h"
#include "Eeprom.h"
#include "EnergyMeter.h"
#include "Gpio.h"
#include "I2cBus.h"
#include "LineSignal.h"
#include "MeterModel.h"
#include "MeterSetup.h"
#include "SignalHistory.h"
#include "SpiBus.h"
#include "WaveformCapture.h"
#include "ZeroCrossings.h"

namespace sim::detail {

class Board {
public:
    static Board& instance();
    ~Board();

    std::mutex mutex;
    Clock clock{mutex};
    Gpio gpio;
    SpiBus spi;
    ChipModel chip;
    SignalHistory history;  // the line signal: history.current() is the line now
    MeterSetup setup;
    MeterModel meter{chip, history, setup, clock};
    Eeprom eeprom;
    I2cBus i2c;
    bool noInterrupts = false;
    uint64_t irqLatencyMaxNanos = 0;  // each IRQ1 edge reaches the ISR up to this late
    std::minstd_rand irqLatencyRandom;
    // Sees each logged frame on the thread that sent it, outside the mutex.
    std::function<void(const SpiFrame&)> frameObserver;
    bool chipWasRunning = false;
    ZeroCrossings zeroCrossings{clock, [this](uint64_t generation) { onZeroCrossing(generation); }};
    EnergyMeter energy{clock, chip, meter,
                       [this](EnergyMeter::Kind kind, uint64_t generation) { onInterval(kind, generation); }};
    WaveformCapture waveform{clock,   chip,  meter,
                             history, setup, [this](uint64_t generation) { onPageFull(generation); }};

    // ---- Called without the mutex ----
    void powerOn(uint64_t startMicros);
    int spiTransfer(int channel, uint8_t* data, int len);
    void pinWrite(int pin, int level);
    // Virtual mode: runs the pin's ISR now, on this thread. Real-time mode:
    // hands the edge to the interrupt thread.
    void raiseFallingEdge(int pin);
    // Runs `change` under the mutex, then brings the chip's events and IRQ1
    // line up to date and delivers any edge it made.
    template <typename Change>
    void update(Change&& change) {
        std::unique_lock<std::mutex> lock(mutex);
        // Energy counts the readings as they stood up to this moment.
        energy.integrateTo(clock.nowNanos());
        std::forward<Change>(change)();
        const int edges = delayEdgesLocked(settleLocked());
        lock.unlock();
        for (int i = 0; i < edges; ++i) raiseFallingEdge(kIrq1Pin);
    }

    // ---- Called with the mutex held ----
    // With an interrupt latency set, schedules each of `edges` IRQ1 edges at
    // its own late time and returns 0; else returns `edges`, to deliver now.
    int delayEdgesLocked(int edges);
    uint64_t nowMicros() const { return clock.nowNanos() / 1000; }
    // IRQ1 reaches the pin only from a present chip with its line intact.
    void applyIrq1Wiring() { chip.setIrq1Connected(!noInterrupts && spi.fault() == BusFault::None); }
    // The line from now on: `edit` changes a copy of the current signal.
    template <typename Edit>
    void changeLine(Edit&& edit) {
        LineSignal line = history.current();
        std::forward<Edit>(edit)(line);
        history.change(clock.nowNanos(), line);
    }

private:
    Board();
    int settleLocked();
    void onZeroCrossing(uint64_t generation);
    void onInterval(EnergyMeter::Kind kind, uint64_t generation);
    void onPageFull(uint64_t generation);
    // Runs an event's work under the mutex, then delivers the edges it made.
    template <typename Work>
    void onEvent(Work&& work);
    void deliverFallingEdge(int pin);
};

}  // namespace sim::detail
