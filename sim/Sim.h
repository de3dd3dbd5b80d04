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

#include <array>
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
// clock on the system's time, chip registers at their reset values and none
// pinned, no ISR registered, logs and faults cleared, the line signal, full
// scale and errors at their defaults (see "The line signal"), a blank EEPROM
// in memory. Stops the interrupt thread of real-time mode.
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
// Called with each frame as it is logged, on the thread that sent it and
// outside the board's lock (so it may look at the module's own locks); reset
// removes it.
void setFrameObserver(std::function<void(const SpiFrame&)> observer);
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
//
// While the chip runs, the measurement registers are computed from the line
// signal at the moment of the read: per phase xIRMS, xVRMS, xIFRMS, xVFRMS,
// xWATT, xVAR, xVA, xFWATT, xFVAR, xFVA, xPF, xVTHD, xITHD, xIRMSONE,
// xVRMSONE, xIRMS1012, xVRMS1012 (and so their burst words), NIRMS,
// NIRMSONE, NIRMS1012, APERIOD..COM_PERIOD and ANGL_VA_VB..ANGL_IA_IC; the
// formulas are in MeterModel.h. Energy and power accumulation registers
// latch at the end of their intervals (EnergyMeter.h), waveform pages fill
// while the capture is on (WaveformCapture.h). With the chip stopped they
// read their stored values (0 from reset). Setting a computed register pins
// it: it reads the value set, running or not, until releaseChipRegister or
// reset.
uint32_t chipRegister(uint16_t address);
void setChipRegister(uint16_t address, uint32_t value);
void releaseChipRegister(uint16_t address);
bool chipRunning();         // RUN register is 1 and the chip is out of reset
uint64_t chipResetCount();  // completed reset pulses (reset pin low then high)

// The line frequency, shared by the three phases. 0 means no signal: every
// phase reads as dead (no zero crossings, so no half-cycle interrupts, no
// waveform pages); negative or non-finite values throw std::invalid_argument.
// A change keeps the line's phase continuous.
//
// Half-cycles: while the chip runs and some phase carries a voltage, STATUS1
// bit 0x200 rises at every zero crossing of the line (both directions of
// phase A's voltage reference). The chip starts running on a rising zero
// crossing, so the first half-cycle comes half a period after RUN.
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
// Each IRQ1 edge reaches the ISR after a latency drawn evenly from 0 to
// `maxMicros` (the same draws after every reset), as an interrupt thread's
// scheduling delays it; 0 (the default) delivers it at once.
void setInterruptLatency(uint64_t maxMicros);
// STATUS0/STATUS1 bits that never clear (0: none); other addresses throw
// std::invalid_argument.
void setStuckStatus(uint16_t address, uint32_t bits);
// What wiringPiSPISetup returns (default 3). Negative: the device never opens,
// so every transfer returns -1 and nothing reaches the chip.
void setSpiSetupResult(int descriptor);
void setIsrSetupResult(int result);  // what wiringPiISR returns (default 0)

// ---- The line signal (test face in physics) -----------------------------------
//
// Power-on default on all three phases: 230 V and 5 A RMS at 50 Hz, current
// lagging its voltage by 36.87 degrees (PF 0.8), no harmonics, voltages 120
// degrees apart with B lagging A (A 0, B 120, C 240 degrees of lag), neutral
// current the vector sum of the three phase currents. Board full scale 500 V
// and 10 A; no intrinsic errors.

enum class Phase { A = 0, B = 1, C = 2 };
enum class Quantity { Voltage, Current };

// One harmonic of a voltage or current: order 2..63, RMS amplitude in percent
// of the fundamental, phase in degrees at the harmonic's own frequency
// relative to the fundamental (0: both rise through zero together).
struct Harmonic {
    int order;
    double percent;
    double phaseDegrees = 0.0;
};

// One phase of the line. volts and amps are the RMS values of the fundamental;
// harmonics add to the total RMS (THD = RMS of the harmonics / fundamental).
// A positive currentLagDegrees is a current lagging its voltage (inductive
// load, positive VAR); harmonic currents lag by order x that angle, plus
// their own phase. Example: {230, 12, 30, {}, {{3, 5}}} is 230 V, 12 A lagging
// 30 degrees with 5 % third harmonic in the current.
struct PhaseSignal {
    double volts = 230.0;
    double amps = 5.0;
    double currentLagDegrees = 36.87;
    std::vector<Harmonic> voltageHarmonics;
    std::vector<Harmonic> currentHarmonics;
};

// Values take effect now; invalid ones (negative or non-finite amplitudes,
// harmonic orders outside 2..63) throw std::invalid_argument.
void setPhase(Phase phase, const PhaseSignal& signal);
PhaseSignal phaseSignal(Phase phase);
void setPhaseVolts(Phase phase, double volts);
void setPhaseAmps(Phase phase, double amps);
void setCurrentLag(Phase phase, double degrees);
void setHarmonics(Phase phase, Quantity quantity, const std::vector<Harmonic>& harmonics);
// Lag of this phase's voltage behind phase A's, degrees (A's own is 0 unless
// set; the angle registers measure the differences).
void setVoltageAngle(Phase phase, double lagDegrees);
double voltageAngle(Phase phase);
// Neutral RMS current, amps; a negative value (the default) makes it the
// vector sum of the three phase currents, harmonic by harmonic.
void setNeutralAmps(double amps);

// Scripted changes on the clock. Times are absolute clock times (micros, as
// nowMicros reads); a time already past takes effect now. A duration of 0
// makes the change permanent; otherwise the values the change replaced come
// back when it ends.
//   sag/swell: the phase's voltage times `factor` (a sag to 40 % is 0.4)
//   losePhase: the phase's voltage and current go to 0
//   frequencyStep: the line frequency becomes `hertz`
//   unbalancedLoad: per-phase RMS currents and current lags
void sag(Phase phase, double factor, uint64_t startMicros, uint64_t durationMicros);
void swell(Phase phase, double factor, uint64_t startMicros, uint64_t durationMicros);
void losePhase(Phase phase, uint64_t startMicros, uint64_t durationMicros = 0);
void frequencyStep(double hertz, uint64_t atMicros);
void unbalancedLoad(const std::array<double, 3>& amps, const std::array<double, 3>& lagDegrees,
                    uint64_t atMicros);

// ---- The measuring chip: board scale and intrinsic errors ---------------------
//
// The full scale the board is built for, as the module's configuration states
// it: FSV volts and FSA amps (peak). The chip's codes follow from it:
//   RMS code     = volts / (0.70710677 x FSV) x 52702092
//                = amps / (0.70710677 x FSA x 3.003003003003003) x 52702092
//   power code   = watts / (FSV x 0.70710677 x FSA x 0.70710677 x 3.003003003003003) x 20694066
//   sample       = volts / FSV x 18196 = amps / (FSA x 3.003003003003003) x 18196
// Non-positive or non-finite values throw std::invalid_argument.
void setFullScale(double volts, double amps);
double fullScaleVolts();
double fullScaleAmps();

// The chip's seven input channels, in waveform-buffer order, then neutral.
enum class Channel { IA = 0, VA = 1, IB = 2, VB = 3, IC = 4, VC = 5, IN = 6 };

// What a real channel gets wrong before calibration corrects it:
//   gainPercent    reading too high by this percent (all readings and samples)
//   rmsOffset      volts or amps added in quadrature to every RMS flavour
//                  (negative: subtracted), as the chip's RMS offset sees it
//   phaseDegrees   current channels: extra lag of the measured current
//   dcOffsetCounts added to the channel's waveform-buffer samples only (the
//                  RMS and power paths filter DC out)
struct ChannelError {
    double gainPercent = 0.0;
    double rmsOffset = 0.0;
    double phaseDegrees = 0.0;
    int dcOffsetCounts = 0;
};
void setChannelError(Channel channel, const ChannelError& error);
ChannelError channelError(Channel channel);
void setGainError(Channel channel, double percent);
void setRmsOffset(Channel channel, double voltsOrAmps);
void setPhaseError(Phase phase, double degrees);  // on the phase's current channel
// Power offsets of a phase, watts and VAR, added to active and reactive
// power (total and fundamental) ahead of the power gain.
void setPowerOffset(Phase phase, double watts, double vars = 0.0);
void clearErrors();

// ---- The module's EEPROM on I2C -------------------------------------------------
//
// A 64 KiB EEPROM (16-bit memory addresses, 32-byte pages, 5 ms write cycle)
// at 7-bit address 0x50 by default, reached the way the module reaches it:
// I2Cbegin returns the bus descriptor kI2cDescriptor, and the calls of
// i2cDeviceOps() (QMCommon/I2CDevice.h) carry the transfers:
//   ioctl(fd, I2C_SLAVE, address)  selects the device (no bus traffic, so it
//                                  succeeds even with no device there)
//   write(fd, [hi, lo])            sets the memory address
//   write(fd, [hi, lo, data...])   page write: data lands from the address
//                                  on, wrapping within its 32-byte page;
//                                  then the device is busy for 5 ms
//   read(fd, buf, n)               sequential read from the memory address,
//                                  wrapping at the end of memory
// While busy the device does not answer (write and read fail, EREMOTEIO); a
// transfer to an address with no device fails with ENXIO. Transfers move the
// clock on by their time on the wire at 100 kHz (9 bits per byte, address
// byte included); the write cycle runs on the clock. Descriptors other than
// kI2cDescriptor go to the system's own ioctl, write and read.
//
// reset() leaves a blank (0xFF) device in memory with no image attached.

constexpr int kI2cDescriptor = 40;
constexpr uint8_t kEepromAddress = 0x50;
constexpr std::size_t kEepromBytes = 65536;
constexpr std::size_t kEepromPageBytes = 32;
constexpr uint64_t kEepromWriteCycleMicros = 5000;

}  // namespace sim

struct I2CDeviceOps;

namespace sim {

// The device operations a module is given to reach the simulated EEPROM.
const I2CDeviceOps& i2cDeviceOps();

// Back the device by an image file: an existing file (exactly kEepromBytes
// long, else std::invalid_argument) becomes the contents; a missing one is
// created blank. Every later change writes through to the file, so the
// contents persist between runs. std::runtime_error when the file cannot be
// read or created.
void attachEepromImage(const std::string& path);
void detachEepromImage();  // keep the contents in memory only
void eraseEeprom();        // all bytes 0xFF, as a new device
// Test-face access to the memory (no bus traffic, no write cycle); ranges
// past the end of memory throw std::out_of_range.
void fillEeprom(uint16_t address, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> eepromBytes(uint16_t address, std::size_t count);
// Corrupt stored bytes: each is XOR-ed with `mask`.
void corruptEeprom(uint16_t address, std::size_t count, uint8_t mask = 0xFF);
bool eepromBusy();  // a write cycle is in progress

void setEepromAddress(uint8_t address);
void setEepromPresent(bool present);  // false: no device answers at any address
void setI2cBeginResult(int result);   // what I2Cbegin returns (default kI2cDescriptor)

enum class I2cOp { Begin, End, SelectDevice, Write, Read };
struct I2cTransfer {
    uint64_t timeMicros;
    I2cOp op;
    int result;                  // what the call returned
    uint16_t deviceAddress;      // SelectDevice: the address asked for
    std::vector<uint8_t> bytes;  // Write: as sent; Read: as received
};
// Snapshot under the board's lock, as spiLog().
const std::vector<I2cTransfer>& i2cLog();
void clearI2cLog();
// Calls that broke the bus protocol (transfer on a closed descriptor, an
// unknown ioctl request, I2Cend without I2Cbegin, ...).
const std::vector<std::string>& i2cErrors();

}  // namespace sim
