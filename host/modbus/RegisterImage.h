// Every register a client can read, made at once from one MeterReadings: the
// meter's own map from address 0 (MeterMap.h) and the SunSpec block from
// 40000. Holding and input registers read the same image.
#pragma once

#include <cstdint>
#include <vector>

#include "MeterReadings.h"
#include "SunsChain.h"

class RegisterImage {
public:
    static constexpr int SIZE = SUNSPEC_BASE + SUNSPEC_REGISTERS;

    RegisterImage(const MeterReadings& readings, const MeterIdentity& identity);

    const uint16_t* registers() const { return m_registers.data(); }
    uint16_t at(int nAddress) const { return m_registers[static_cast<size_t>(nAddress)]; }
    // Whether `unCount` registers from `unFirst` are all in the map: the gaps
    // between its blocks are not.
    static bool exists(unsigned unFirst, unsigned unCount);

private:
    std::vector<uint16_t> m_registers;
};
