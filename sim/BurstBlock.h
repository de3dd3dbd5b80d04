// The burst block 0x680..0x6BC holds no storage of its own: each word reads
// what its primary measurement register holds.
#pragma once

#include <cstdint>

namespace sim::detail {

bool isBurstWord(uint16_t address);
// The primary register a burst word mirrors. Only for isBurstWord addresses.
uint16_t burstPrimary(uint16_t address);

}  // namespace sim::detail
