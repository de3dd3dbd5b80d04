// Values as Modbus registers: most significant register first; each register
// goes out big-endian (the protocol's own order), so a float32 0x43660000
// (230.0) is sent as the bytes 43 66 00 00.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

inline void putUint32(uint16_t* pRegisters, uint32_t ulValue) {
    pRegisters[0] = static_cast<uint16_t>(ulValue >> 16);
    pRegisters[1] = static_cast<uint16_t>(ulValue);
}

inline void putFloat(uint16_t* pRegisters, float fValue) {
    uint32_t ulBits;
    memcpy(&ulBits, &fValue, sizeof ulBits);
    putUint32(pRegisters, ulBits);
}

inline void putUint64(uint16_t* pRegisters, uint64_t ullValue) {
    putUint32(pRegisters, static_cast<uint32_t>(ullValue >> 32));
    putUint32(pRegisters + 2, static_cast<uint32_t>(ullValue));
}

// Two characters a register, the first in the high byte; NUL padded, cut to
// the registers given.
inline void putText(uint16_t* pRegisters, int nRegisters, const std::string& text) {
    for (int i = 0; i < nRegisters; i++) {
        const size_t at = 2 * static_cast<size_t>(i);
        const auto byte = [&](size_t n) { return n < text.size() ? static_cast<uint8_t>(text[n]) : 0; };
        pRegisters[i] = static_cast<uint16_t>(byte(at) << 8 | byte(at + 1));
    }
}
