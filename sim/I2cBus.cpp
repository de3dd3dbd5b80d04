#include "I2cBus.h"

#include <cerrno>

#include "I2CDevice.h"

namespace sim::detail {

int I2cBus::begin(uint64_t nowNanos) {
    if (m_open) protocolError(nowNanos, "I2Cbegin while the bus is already held");
    if (m_beginResult >= 0) {
        m_descriptor = m_beginResult;
        m_open = true;
        m_selected = -1;
    }
    record(nowNanos, I2cOp::Begin, m_beginResult);
    return m_beginResult;
}

void I2cBus::end(uint64_t nowNanos) {
    if (!m_open) protocolError(nowNanos, "I2Cend without I2Cbegin");
    m_open = false;
    record(nowNanos, I2cOp::End, 0);
}

int I2cBus::selectDevice(uint64_t nowNanos, unsigned long request, unsigned long address, int& error) {
    int result = 0;
    if (!m_open) {
        protocolError(nowNanos, "ioctl on the bus descriptor after I2Cend");
        error = EBADF;
        result = -1;
    } else if (request != I2C_DEVICE_SELECT || address > 0x7F) {
        protocolError(nowNanos, "ioctl request " + std::to_string(request) + " with " +
                                    std::to_string(address) + " (only I2C_SLAVE with a 7-bit address)");
        error = EINVAL;
        result = -1;
    } else {
        m_selected = static_cast<int>(address);
    }
    m_log.push_back({nowNanos / 1000, I2cOp::SelectDevice, result, static_cast<uint16_t>(address), {}});
    return result;
}

bool I2cBus::deviceAnswers(uint64_t nowNanos, I2cOp op, const Eeprom& eeprom, uint64_t& busNanos,
                           int& error) {
    if (!m_open) {
        protocolError(nowNanos, "transfer on the bus descriptor after I2Cend");
        error = EBADF;
    } else if (m_selected < 0) {
        protocolError(nowNanos, "transfer before a device was selected");
        error = ENXIO;
    } else if (!m_devicePresent || m_selected != m_deviceAddress) {
        error = ENXIO;  // nobody acknowledges the address byte
        busNanos = kNanosPerByte;
    } else if (eeprom.busy(nowNanos)) {
        error = EREMOTEIO;  // in its write cycle the device does not acknowledge
        busNanos = kNanosPerByte;
    } else {
        return true;
    }
    record(nowNanos, op, -1);
    return false;
}

ssize_t I2cBus::write(uint64_t nowNanos, const uint8_t* data, std::size_t count, Eeprom& eeprom,
                      uint64_t& busNanos, int& error) {
    if (!deviceAnswers(nowNanos, I2cOp::Write, eeprom, busNanos, error)) return -1;
    busNanos = (count + 1) * kNanosPerByte;
    if (count >= 2) {
        eeprom.setAddressPointer(static_cast<uint16_t>(data[0] << 8 | data[1]));
        if (count > 2) eeprom.pageWrite(data + 2, count - 2, nowNanos + busNanos);
    }
    record(nowNanos, I2cOp::Write, static_cast<int>(count), std::vector<uint8_t>(data, data + count));
    return static_cast<ssize_t>(count);
}

ssize_t I2cBus::read(uint64_t nowNanos, uint8_t* dest, std::size_t count, Eeprom& eeprom, uint64_t& busNanos,
                     int& error) {
    if (!deviceAnswers(nowNanos, I2cOp::Read, eeprom, busNanos, error)) return -1;
    busNanos = (count + 1) * kNanosPerByte;
    eeprom.sequentialRead(dest, count);
    record(nowNanos, I2cOp::Read, static_cast<int>(count), std::vector<uint8_t>(dest, dest + count));
    return static_cast<ssize_t>(count);
}

void I2cBus::record(uint64_t nowNanos, I2cOp op, int result, std::vector<uint8_t> bytes) {
    m_log.push_back({nowNanos / 1000, op, result, static_cast<uint16_t>(m_selected < 0 ? 0 : m_selected),
                     std::move(bytes)});
}

void I2cBus::protocolError(uint64_t nowNanos, const std::string& what) {
    m_errors.push_back("t=" + std::to_string(nowNanos / 1000) + " us: " + what);
}

}  // namespace sim::detail
