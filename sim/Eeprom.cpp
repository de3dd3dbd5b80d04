#include "Eeprom.h"

#include <algorithm>
#include <stdexcept>

namespace sim::detail {

void Eeprom::reset() {
    detachImage();
    m_memory.fill(kErased);
    m_pointer = 0;
    m_busyUntilNanos = 0;
}

void Eeprom::attachImage(const std::string& path) {
    std::array<uint8_t, kEepromBytes> contents;
    std::fstream image(path, std::ios::in | std::ios::out | std::ios::binary);
    const bool created = !image.is_open();
    if (created) {
        // Created blank, then reopened for reading and writing in place.
        std::ofstream(path, std::ios::binary).close();
        image.open(path, std::ios::in | std::ios::out | std::ios::binary);
        if (!image.is_open()) throw std::runtime_error("cannot create EEPROM image " + path);
        contents.fill(kErased);
    } else {
        image.seekg(0, std::ios::end);
        const std::streamoff size = image.tellg();
        if (size != static_cast<std::streamoff>(kEepromBytes))
            throw std::invalid_argument("EEPROM image " + path + " holds " + std::to_string(size) +
                                        " bytes, not " + std::to_string(kEepromBytes));
        image.seekg(0);
        if (!image.read(reinterpret_cast<char*>(contents.data()), kEepromBytes))
            throw std::runtime_error("cannot read EEPROM image " + path);
    }
    detachImage();
    m_memory = contents;
    m_image = std::move(image);
    m_imagePath = path;
    if (created) persist(0, kEepromBytes);
}

void Eeprom::detachImage() {
    if (m_image.is_open()) m_image.close();
    m_image.clear();
    m_imagePath.clear();
}

void Eeprom::persist(std::size_t address, std::size_t count) {
    if (!m_image.is_open()) return;
    m_image.seekp(static_cast<std::streamoff>(address));
    m_image.write(reinterpret_cast<const char*>(m_memory.data() + address),
                  static_cast<std::streamsize>(count));
    m_image.flush();
    if (!m_image) throw std::runtime_error("cannot write EEPROM image " + m_imagePath);
}

void Eeprom::pageWrite(const uint8_t* data, std::size_t count, uint64_t cycleStartNanos) {
    const std::size_t page = m_pointer & ~(kEepromPageBytes - 1);
    std::size_t offset = m_pointer & (kEepromPageBytes - 1);
    // Bytes past the page's end roll over to its start, as the device's page latch does.
    for (std::size_t i = 0; i < count; ++i) {
        m_memory[page + offset] = data[i];
        offset = (offset + 1) % kEepromPageBytes;
    }
    m_pointer = static_cast<uint16_t>(page + offset);
    persist(page, kEepromPageBytes);
    m_busyUntilNanos = cycleStartNanos + kEepromWriteCycleMicros * 1000;
}

void Eeprom::sequentialRead(uint8_t* dest, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) dest[i] = m_memory[m_pointer++];  // wraps at 64 KiB
}

void Eeprom::checkRange(uint16_t address, std::size_t count) {
    if (address + count > kEepromBytes) throw std::out_of_range("EEPROM range past the end of memory");
}

void Eeprom::erase() {
    m_memory.fill(kErased);
    persist(0, kEepromBytes);
}

void Eeprom::fill(uint16_t address, const std::vector<uint8_t>& bytes) {
    checkRange(address, bytes.size());
    std::copy(bytes.begin(), bytes.end(), m_memory.begin() + address);
    persist(address, bytes.size());
}

std::vector<uint8_t> Eeprom::bytes(uint16_t address, std::size_t count) const {
    checkRange(address, count);
    return {m_memory.begin() + address, m_memory.begin() + address + count};
}

void Eeprom::corrupt(uint16_t address, std::size_t count, uint8_t mask) {
    checkRange(address, count);
    for (std::size_t i = 0; i < count; ++i) m_memory[address + i] ^= mask;
    persist(address, count);
}

}  // namespace sim::detail
