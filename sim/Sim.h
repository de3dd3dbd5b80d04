// The simulated board, test face. The module-facing face is the set of board
// functions (QMCommon/BoardIO.h) that this library defines.
//
// One clock drives everything. In virtual mode (the default, for tests) time
// stands still until something advances it: delay() and delayMicroseconds()
// advance it at once, every SPI transfer advances it by its duration at
// 2.5 MHz, and a test advances it with advance(). Events scheduled on the clock
// (half-cycle interrupts, ...) fire in time order as it passes them, on the
// thread that advanced it. In real-time mode the clock follows the steady
// clock, delays sleep, and events fire on the board's own interrupt thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// ---- Whole board -----------------------------------------------------------

enum class ClockMode { Virtual, RealTime };

// Power-on state: clock at startMicros (virtual mode), no events pending, wall
// clock on the system's time, chip registers at their reset values, no ISR
// registered, logs and faults cleared, line signal at its default (50 Hz).
// Stops the interrupt thread of real-time mode.
void reset(uint64_t startMicros = 1000000);

// Switch to real-time mode (starts the interrupt thread) or back; the clock
// carries on from the time it has. Not from an event callback or an ISR.
void setClockMode(ClockMode mode);
ClockMode clockMode();

// ---- Clock -------------------------------------------------------------------

uint64_t nowMicros();           // 64-bit; micros() is its low 32 bits
void advance(uint64_t micros);  // virtual mode: move time on, firing events due; real-time: sleep
void advanceMillis(uint64_t millis);

// Schedule a callback at an absolute clock time (virtual or real-time mode).
// Returns an id usable with cancel().
using EventId = uint64_t;
EventId schedule(uint64_t atMicros, std::function<void()> fn);
void cancel(EventId id);

// Wall clock: the clock's time mapped onto a settable epoch. Tests that need
// a controlled wall clock interpose time()/gettimeofday() and call these.
void setWallClock(int64_t epochSeconds, int64_t microseconds = 0);  // "now" is that moment
void wallClock(int64_t& epochSeconds, int64_t& microseconds);

// ---- GPIO --------------------------------------------------------------------

struct PinEvent {
    uint64_t timeMicros;
    int pin;
    int mode;   // -1 for digitalWrite entries
    int level;  // -1 for pinMode entries
};
const std::vector<PinEvent>& pinLog();
int pinLevel(int pin);  // -1 when never driven
bool isrRegistered(int pin);
// A falling edge on a pin: runs the routine registered with wiringPiISR for it
// (synchronously in virtual mode, on the interrupt thread in real-time mode).
void fallingEdge(int pin);

// ---- SPI ---------------------------------------------------------------------

enum class FrameKind { Read16, Read32, Write16, Write32, BurstValues, BurstWaveform, Invalid };

struct SpiFrame {
    uint64_t timeMicros;  // when the transfer started
    FrameKind kind;
    uint16_t address;
    uint32_t value;             // value written, or value returned for single reads
    std::vector<uint8_t> sent;  // the bytes as the module sent them
};

int spiSetupCount();  // calls of wiringPiSPISetup
int spiSetupSpeed();  // last speed passed
// The logs (spiLog, protocolErrors, pinLog) come back as snapshots taken under
// the board's lock: safe while other threads use the board, and valid until the
// same function is called again on the same thread.
const std::vector<SpiFrame>& spiLog();
void clearSpiLog();
// Keep only the latest `frames` frames (0, the default: keep all). A long
// real-time run sets a limit so the log does not grow without bound.
void setSpiLogLimit(std::size_t frames);
// Writes of the log, as (address, value) in order: the exact write sequence.
std::vector<std::pair<uint16_t, uint32_t>> spiWrites();
// Frames that broke the wire format (wrong length, bad command word, width
// mismatch, unknown register, use before setup, wrong channel). A test that
// sees any should fail.
const std::vector<std::string>& protocolErrors();

// ---- Chip --------------------------------------------------------------------

// Register contents as the chip holds them (test face: no side effects). A
// burst word (0x680..0x6BC) is its primary register; stuck status bits read
// set. Addresses not in the catalogue throw std::out_of_range. Setting a
// register moves the IRQ1 line with it but delivers no edge.
uint32_t chipRegister(uint16_t address);
void setChipRegister(uint16_t address, uint32_t value);
bool chipRunning();         // RUN register is 1 and the chip is out of reset
uint64_t chipResetCount();  // completed reset pulses (reset pin low then high)

// The line the chip measures. Frequency 0 means no signal: no zero crossings,
// so no half-cycle interrupts; negative values throw std::invalid_argument.
// Later the signal source grows per-phase values.
void setLineFrequency(double hertz);
double lineFrequency();

// IRQ1 line level as the chip drives it (true = asserted, low).
bool irq1Asserted();
uint64_t irq1EdgeCount();  // falling edges delivered to the ISR

// ---- Faults -----------------------------------------------------------------

enum class BusFault { None, AbsentReadsOnes, AbsentReadsZeros };
void setBusFault(BusFault fault);                     // absent chip: reads a constant, writes vanish
void setIgnoreWrites(uint16_t address, bool ignore);  // register keeps its value
void setNoInterrupts(bool noInterrupts);              // IRQ1 never asserts
// STATUS0/STATUS1 bits that never clear (0: none); other addresses throw
// std::invalid_argument.
void setStuckStatus(uint16_t address, uint32_t bits);
// What wiringPiSPISetup returns (default 3). Negative: the device never opens,
// so every transfer returns -1 and nothing reaches the chip.
void setSpiSetupResult(int descriptor);
void setIsrSetupResult(int result);  // what wiringPiISR returns (default 0)

}  // namespace sim
