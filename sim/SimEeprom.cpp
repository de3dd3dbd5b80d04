// The test face of the module's EEPROM and its I2C bus (Sim.h).
#include "Sim.h"
#include "TestFaceAccess.h"

namespace sim {

using detail::board;
using detail::locked;

void attachEepromImage(const std::string& path) {
    locked([&] { board().eeprom.attachImage(path); });
}

void detachEepromImage() {
    locked([] { board().eeprom.detachImage(); });
}

void eraseEeprom() {
    locked([] { board().eeprom.erase(); });
}

void fillEeprom(uint16_t address, const std::vector<uint8_t>& bytes) {
    locked([&] { board().eeprom.fill(address, bytes); });
}

std::vector<uint8_t> eepromBytes(uint16_t address, std::size_t count) {
    return locked([&] { return board().eeprom.bytes(address, count); });
}

void corruptEeprom(uint16_t address, std::size_t count, uint8_t mask) {
    locked([&] { board().eeprom.corrupt(address, count, mask); });
}

bool eepromBusy() {
    return locked([] { return board().eeprom.busy(board().clock.nowNanos()); });
}

void setEepromAddress(uint8_t address) {
    locked([address] { board().i2c.setDeviceAddress(address); });
}

void setEepromPresent(bool present) {
    locked([present] { board().i2c.setDevicePresent(present); });
}

void setI2cBeginResult(int result) {
    locked([result] { board().i2c.setBeginResult(result); });
}

const std::vector<I2cTransfer>& i2cLog() {
    thread_local std::vector<I2cTransfer> snapshot;
    snapshot = locked([] { return board().i2c.log(); });
    return snapshot;
}

void clearI2cLog() {
    locked([] { board().i2c.clearLog(); });
}

const std::vector<std::string>& i2cErrors() {
    thread_local std::vector<std::string> snapshot;
    snapshot = locked([] { return board().i2c.errors(); });
    return snapshot;
}

}  // namespace sim
