// The module's I2C EEPROM: 64 KiB of memory with 16-bit addresses, 32-byte
// page writes and a write cycle, optionally backed by an image file that
// every change writes through to. Plain state, guarded by the board mutex.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "Sim.h"

namespace sim::detail {

class Eeprom {
public:
    Eeprom() { m_memory.fill(kErased); }
    // A blank device, detached from any image.
    void reset();

    void attachImage(const std::string& path);
    void detachImage();

    // ---- Bus side ----
    bool busy(uint64_t nowNanos) const { return nowNanos < m_busyUntilNanos; }
    void setAddressPointer(uint16_t address) { m_pointer = address; }
    // Page write from the address pointer, wrapping within its page; the
    // write cycle runs from `cycleStartNanos` on.
    void pageWrite(const uint8_t* data, std::size_t count, uint64_t cycleStartNanos);
    void sequentialRead(uint8_t* dest, std::size_t count);

    // ---- Test face (no write cycle) ----
    void erase();
    void fill(uint16_t address, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> bytes(uint16_t address, std::size_t count) const;
    void corrupt(uint16_t address, std::size_t count, uint8_t mask);

private:
    static constexpr uint8_t kErased = 0xFF;

    static void checkRange(uint16_t address, std::size_t count);
    // Writes memory [address, address + count) through to the image.
    void persist(std::size_t address, std::size_t count);

    std::array<uint8_t, kEepromBytes> m_memory{};
    uint16_t m_pointer = 0;
    uint64_t m_busyUntilNanos = 0;
    std::string m_imagePath;
    std::fstream m_image;
};

}  // namespace sim::detail
