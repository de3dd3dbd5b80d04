// The whole simulated board: one mutex over the clock, GPIO, SPI bus, chip and
// line, and the glue between them (reset pin to chip, IRQ1 line to the ISR,
// chip running state to its half-cycle events).
//
// Locking: every member below is guarded by `mutex`. The module's interrupt
// routine and event callbacks always run with it released, so they may call
// back into the board.
#pragma once

#include <cstdint>
#include <mutex>
#include <utility>

#include "ChipModel.h"
#include "ChipRegisters.h"
#include "Clock.h"
#include "Gpio.h"
#include "LineSignal.h"
#include "SpiBus.h"
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
    LineSignal line;
    bool noInterrupts = false;
    ZeroCrossings zeroCrossings{clock, [this](uint64_t generation) { onZeroCrossing(generation); }};

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
        std::forward<Change>(change)();
        const int edges = settleLocked();
        lock.unlock();
        for (int i = 0; i < edges; ++i) raiseFallingEdge(kIrq1Pin);
    }

    // ---- Called with the mutex held ----
    uint64_t nowMicros() const { return clock.nowNanos() / 1000; }
    // IRQ1 reaches the pin only from a present chip with its line intact.
    void applyIrq1Wiring() { chip.setIrq1Connected(!noInterrupts && spi.fault() == BusFault::None); }

private:
    Board() = default;
    int settleLocked();
    void onZeroCrossing(uint64_t generation);
    void deliverFallingEdge(int pin);
};

}  // namespace sim::detail
