// The simulated board behind the real board library's seam: spidev messages
// become chip frames, IRQ1's falling edges become line events, i2c-dev
// transfers reach the EEPROM, and the monotonic clock is the board's clock.
// The module, loaded over the real board functions, cannot tell it from a
// board. Test face: faults the system can give and counts of what was asked.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace board {
struct System;
}

namespace sim {

// The seam table to bind with board::bindSystem. Knows /dev/spidev0.C
// (channel C), /dev/i2c-N (the EEPROM's bus) and the GPIO chips set up (by
// default /dev/gpiochip0 as on a Pi 4); other paths do not exist.
const board::System& fakeDeviceSystem();

// Forgets faults, wiring and counts. Call with no board function in use.
void resetFakeDevices();

// Opening `path` (device file or GPIO chip) fails with `error` (ENOENT,
// EACCES, ...).
void failDevice(const std::string& path, int error);
// Requesting GPIO line `offset` fails with `error` (EBUSY: another consumer).
void failLineRequest(unsigned offset, int error);
// The I2C read or write after `goodTransfers` more good ones fails with `error`.
void failI2cTransferAfter(int goodTransfers, int error);
// Another program holds the I2C bus's lock.
void holdI2cLock(bool held);
// The next `count` sleeps are cut short halfway by a signal (EINTR).
void interruptSleeps(int count);
// The next `count` event waits are cut short by a signal (EINTR).
void interruptEventWaits(int count);
// The next `count` event reads fail with `error`; the line reads as ready
// meanwhile, as a line whose events cannot be read does.
void failEventReads(int count, int error);
// Real-time priority is refused (EPERM), as to a service without the right.
void refuseRealtimePriority();
// /dev/gpiochip`number` with `label`. A `header` chip names lines 0..27 as a
// Pi's kernel names the 40-pin header's ("ID_SDA", "ID_SCL", "GPIO2".."GPIO27")
// and only its lines reach the board's pins; another chip's are unnamed.
void setGpioChip(unsigned number, const std::string& label, bool header);
// GPIO line `offset` is wired to the board's pin `pin` (default: the same number).
void wireLine(unsigned offset, int pin);

struct FakeDeviceCounts {
    std::map<uint32_t, uint64_t> spiMessagesByLength;  // SPI_IOC_MESSAGE(1) calls, by transfer length
    uint64_t spiMessages = 0;
    int openDescriptors = 0;     // device files and chips open now
    uint64_t lineEvents = 0;     // falling edges read by the board library
    int eventRequestFlags = -1;  // of the last falling-edge request
};
FakeDeviceCounts fakeDeviceCounts();

}  // namespace sim
