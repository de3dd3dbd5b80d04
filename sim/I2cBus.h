// The board's I2C bus as the module reaches it: I2Cbegin / I2Cend hand out
// and take back the bus descriptor, and the device calls on it (select a
// device, write, read) reach the EEPROM. Decodes strictly and logs every
// call. Plain state, guarded by the board mutex.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Eeprom.h"
#include "Sim.h"

namespace sim::detail {

class I2cBus {
public:
    // Bus time at 100 kHz: nine clocks per byte, the address byte included.
    static constexpr uint64_t kNanosPerByte = 90000;

    void reset() { *this = I2cBus{}; }

    int begin(uint64_t nowNanos);
    void end(uint64_t nowNanos);
    // Whether `fd` is the descriptor the bus handed out (open or not).
    bool owns(int fd) const { return m_descriptor >= 0 && fd == m_descriptor; }

    // Each returns what the system call would, with `error` the errno for a
    // failure, and `busNanos` the time the transfer took on the wire.
    int selectDevice(uint64_t nowNanos, unsigned long request, unsigned long address, int& error);
    ssize_t write(uint64_t nowNanos, const uint8_t* data, std::size_t count, Eeprom& eeprom,
                  uint64_t& busNanos, int& error);
    ssize_t read(uint64_t nowNanos, uint8_t* dest, std::size_t count, Eeprom& eeprom, uint64_t& busNanos,
                 int& error);

    void setBeginResult(int result) { m_beginResult = result; }
    void setDeviceAddress(uint8_t address) { m_deviceAddress = address; }
    void setDevicePresent(bool present) { m_devicePresent = present; }

    const std::vector<I2cTransfer>& log() const { return m_log; }
    void clearLog() { m_log.clear(); }
    const std::vector<std::string>& errors() const { return m_errors; }

private:
    // Whether a transfer may start: the bus is open and a present, idle device
    // answers at the selected address. Sets error and logs otherwise.
    bool deviceAnswers(uint64_t nowNanos, I2cOp op, const Eeprom& eeprom, uint64_t& busNanos, int& error);
    void record(uint64_t nowNanos, I2cOp op, int result, std::vector<uint8_t> bytes = {});
    void protocolError(uint64_t nowNanos, const std::string& what);

    int m_beginResult = kI2cDescriptor;
    int m_descriptor = -1;  // the last one handed out
    bool m_open = false;
    int m_selected = -1;  // 7-bit address chosen with I2C_SLAVE, -1 before any
    uint8_t m_deviceAddress = kEepromAddress;
    bool m_devicePresent = true;
    std::vector<I2cTransfer> m_log;
    std::vector<std::string> m_errors;
};

}  // namespace sim::detail
