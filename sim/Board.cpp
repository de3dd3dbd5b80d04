#include "Board.h"

namespace sim::detail {

Board& Board::instance() {
    static Board board;
    return board;
}

// The interrupt thread must stop before the parts its callbacks touch go.
Board::~Board() {
    clock.setMode(ClockMode::Virtual);
}

void Board::powerOn(uint64_t startMicros) {
    clock.setMode(ClockMode::Virtual);
    std::lock_guard<std::mutex> lock(mutex);
    zeroCrossings.reset();
    clock.restart(startMicros * 1000);
    gpio.reset();
    spi.reset();
    chip.powerOn();
    line = LineSignal{};
    noInterrupts = false;
}

int Board::settleLocked() {
    zeroCrossings.update(chip.running(), line.frequencyHz);
    return chip.takeIrq1Edges();
}

int Board::spiTransfer(int channel, uint8_t* data, int len) {
    int result = -1;
    update([&] { result = spi.transfer(nowMicros(), channel, data, len, chip); });
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

void Board::deliverFallingEdge(int pin) {
    IsrRoutine routine;
    {
        std::lock_guard<std::mutex> lock(mutex);
        routine = gpio.takeFallingEdge(pin);
    }
    if (routine != nullptr) routine();
}

// Runs on the clock (the interrupt thread in real-time mode), so the edge is
// delivered right here.
void Board::onZeroCrossing(uint64_t generation) {
    int edges;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!zeroCrossings.isCurrent(generation)) return;
        chip.zeroCrossing();
        zeroCrossings.scheduleNext();
        edges = chip.takeIrq1Edges();
    }
    for (int i = 0; i < edges; ++i) deliverFallingEdge(kIrq1Pin);
}

}  // namespace sim::detail
