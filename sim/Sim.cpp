// The test face declared in Sim.h, over the board.
#include "Sim.h"

#include <cmath>
#include <mutex>
#include <stdexcept>

#include "TestFaceAccess.h"

namespace sim {

using detail::board;
using detail::locked;

// ---- Whole board ----

void reset(uint64_t startMicros) {
    board().powerOn(startMicros);
}

void setClockMode(ClockMode mode) {
    board().clock.setMode(mode);
}

ClockMode clockMode() {
    return locked([] { return board().clock.mode(); });
}

// ---- Clock ----

uint64_t nowMicros() {
    return locked([] { return board().nowMicros(); });
}

void advance(uint64_t micros) {
    board().clock.advance(micros * 1000);
}

void advanceMillis(uint64_t millis) {
    board().clock.advance(millis * 1000000);
}

EventId schedule(uint64_t atMicros, std::function<void()> fn) {
    return locked([&] { return board().clock.schedule(atMicros * 1000, std::move(fn)); });
}

void cancel(EventId id) {
    locked([&] { board().clock.cancel(id); });
}

void setWallClock(int64_t epochSeconds, int64_t microseconds) {
    locked([&] { board().clock.setWallClock(epochSeconds * 1000000000 + microseconds * 1000); });
}

void wallClock(int64_t& epochSeconds, int64_t& microseconds) {
    const int64_t nanos = locked([] { return board().clock.wallNanos(); });
    // Floor division, so a moment before the epoch still has 0..999999 us.
    epochSeconds = nanos / 1000000000;
    int64_t rest = nanos % 1000000000;
    if (rest < 0) {
        rest += 1000000000;
        --epochSeconds;
    }
    microseconds = rest / 1000;
}

// ---- GPIO ----

const std::vector<PinEvent>& pinLog() {
    thread_local std::vector<PinEvent> snapshot;
    snapshot = locked([] { return board().gpio.log(); });
    return snapshot;
}

int pinLevel(int pin) {
    return locked([pin] { return board().gpio.level(pin); });
}

bool isrRegistered(int pin) {
    return locked([pin] { return board().gpio.isrRegistered(pin); });
}

void fallingEdge(int pin) {
    board().raiseFallingEdge(pin);
}

// ---- SPI ----

int spiSetupCount() {
    return locked([] { return board().spi.setupCount(); });
}

int spiSetupSpeed() {
    return locked([] { return board().spi.setupSpeed(); });
}

const std::vector<SpiFrame>& spiLog() {
    thread_local std::vector<SpiFrame> snapshot;
    locked([] {
        const auto& log = board().spi.log();
        snapshot.assign(log.begin(), log.end());
    });
    return snapshot;
}

void clearSpiLog() {
    locked([] { board().spi.clearLog(); });
}

void setFrameObserver(std::function<void(const SpiFrame&)> observer) {
    locked([&] { board().frameObserver = std::move(observer); });
}

void setSpiLogLimit(std::size_t frames) {
    locked([frames] { board().spi.setLogLimit(frames); });
}

std::vector<std::pair<uint16_t, uint32_t>> spiWrites() {
    return locked([] {
        std::vector<std::pair<uint16_t, uint32_t>> writes;
        for (const SpiFrame& frame : board().spi.log())
            if (frame.kind == FrameKind::Write16 || frame.kind == FrameKind::Write32)
                writes.emplace_back(frame.address, frame.value);
        return writes;
    });
}

const std::vector<std::string>& protocolErrors() {
    thread_local std::vector<std::string> snapshot;
    snapshot = locked([] { return board().spi.errors(); });
    return snapshot;
}

// ---- Chip ----

uint32_t chipRegister(uint16_t address) {
    return locked([address] { return board().chip.peek(address); });
}

void setChipRegister(uint16_t address, uint32_t value) {
    board().update([&] { board().chip.poke(address, value); });
}

bool chipRunning() {
    return locked([] { return board().chip.running(); });
}

uint64_t chipResetCount() {
    return locked([] { return board().chip.resetCount(); });
}

void releaseChipRegister(uint16_t address) {
    board().update([&] { board().chip.release(address); });
}

void setLineFrequency(double hertz) {
    if (!(hertz >= 0) || std::isinf(hertz))
        throw std::invalid_argument("line frequency must be finite and >= 0");
    board().update([&] { board().changeLine([&](detail::LineSignal& line) { line.frequencyHz = hertz; }); });
}

double lineFrequency() {
    return locked([] { return board().history.current().frequencyHz; });
}

bool irq1Asserted() {
    return locked([] { return board().chip.irq1Asserted(); });
}

uint64_t irq1EdgeCount() {
    return locked([] { return board().gpio.deliveredEdges(detail::kIrq1Pin); });
}

// ---- Faults ----

void setBusFault(BusFault fault) {
    board().update([&] {
        board().spi.setFault(fault);
        board().applyIrq1Wiring();
    });
}

void setIgnoreWrites(uint16_t address, bool ignore) {
    locked([&] { board().chip.setIgnoreWrites(address, ignore); });
}

void setNoInterrupts(bool noInterrupts) {
    board().update([&] {
        board().noInterrupts = noInterrupts;
        board().applyIrq1Wiring();
    });
}

void setInterruptLatency(uint64_t maxMicros) {
    board().update([&] { board().irqLatencyMaxNanos = maxMicros * 1000; });
}

void setStuckStatus(uint16_t address, uint32_t bits) {
    board().update([&] { board().chip.setStuckStatus(address, bits); });
}

void setSpiSetupResult(int descriptor) {
    locked([descriptor] { board().spi.setSetupResult(descriptor); });
}

void setIsrSetupResult(int result) {
    locked([result] { board().gpio.setIsrSetupResult(result); });
}

}  // namespace sim
