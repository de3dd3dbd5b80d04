#include "Board.h"

namespace sim::detail {

Board& Board::instance() {
    static Board board;
    return board;
}

Board::Board() {
    chip.setRegisterSource(&meter);
    history.restart(0, LineSignal{});
}

// The interrupt thread must stop before the parts its callbacks touch go.
Board::~Board() {
    clock.setMode(ClockMode::Virtual);
}

void Board::powerOn(uint64_t startMicros) {
    clock.setMode(ClockMode::Virtual);
    std::lock_guard<std::mutex> lock(mutex);
    zeroCrossings.reset();
    energy.reset();
    waveform.reset();
    clock.restart(startMicros * 1000);
    gpio.reset();
    spi.reset();
    frameObserver = nullptr;
    chip.powerOn();
    history.restart(startMicros * 1000, LineSignal{});
    setup = MeterSetup{};
    eeprom.reset();
    i2c.reset();
    noInterrupts = false;
    irqLatencyMaxNanos = 0;
    irqLatencyRandom.seed();
    chipWasRunning = false;
}

int Board::settleLocked() {
    const bool running = chip.running();
    if (running && !chipWasRunning) history.rebasePhase(clock.nowNanos());
    chipWasRunning = running;
    zeroCrossings.update(running && history.current().anyVoltage(), history.phase());
    energy.update(running);
    waveform.update(running && (chip.stored(kRegWfbCfg) & kWfbCfgCapture) != 0);
    return chip.takeIrq1Edges();
}

int Board::spiTransfer(int channel, uint8_t* data, int len) {
    int result = -1;
    std::function<void(const SpiFrame&)> observer;
    SpiFrame observed{};
    update([&] {
        const uint64_t recorded = spi.framesRecorded();
        result = spi.transfer(nowMicros(), channel, data, len, chip);
        if (frameObserver && spi.framesRecorded() != recorded) {
            observer = frameObserver;
            observed = spi.log().back();
        }
    });
    if (observer) observer(observed);
    // The frame is logged at its start; the clock then moves past it.
    if (result == len) clock.advance(SpiBus::durationNanos(len));
    return result;
}

void Board::pinWrite(int pin, int level) {
    update([&] {
        gpio.write(nowMicros(), pin, level);
        if (pin == kResetPin) chip.driveResetPin(level);
    });
}

void Board::raiseFallingEdge(int pin) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (clock.mode() == ClockMode::RealTime) {
            clock.schedule(clock.nowNanos(), [this, pin] { deliverFallingEdge(pin); });
            return;
        }
    }
    deliverFallingEdge(pin);
}

int Board::delayEdgesLocked(int edges) {
    if (irqLatencyMaxNanos == 0) return edges;
    std::uniform_int_distribution<uint64_t> latency(0, irqLatencyMaxNanos);
    for (int i = 0; i < edges; ++i)
        clock.schedule(clock.nowNanos() + latency(irqLatencyRandom), [this] { deliverFallingEdge(kIrq1Pin); });
    return 0;
}

void Board::deliverFallingEdge(int pin) {
    IsrRoutine routine;
    {
        std::lock_guard<std::mutex> lock(mutex);
        routine = gpio.takeFallingEdge(pin);
    }
    if (routine != nullptr) routine();
}

// Events run on the clock (the interrupt thread in real-time mode), so their
// edges are delivered right here.
template <typename Work>
void Board::onEvent(Work&& work) {
    int edges;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!std::forward<Work>(work)()) return;
        edges = delayEdgesLocked(chip.takeIrq1Edges());
    }
    for (int i = 0; i < edges; ++i) deliverFallingEdge(kIrq1Pin);
}

void Board::onZeroCrossing(uint64_t generation) {
    onEvent([&] {
        if (!zeroCrossings.isCurrent(generation)) return false;
        chip.zeroCrossing();
        zeroCrossings.scheduleNext();
        return true;
    });
}

void Board::onInterval(EnergyMeter::Kind kind, uint64_t generation) {
    onEvent([&] {
        if (!energy.isCurrent(generation)) return false;
        energy.completeInterval(kind);
        return true;
    });
}

void Board::onPageFull(uint64_t generation) {
    onEvent([&] {
        if (!waveform.isCurrent(generation)) return false;
        waveform.completePage();
        return true;
    });
}

}  // namespace sim::detail
