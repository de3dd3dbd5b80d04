// Control of the benchmarks' instant board.
#pragma once

#include <cstdint>

namespace nullboard {
void advanceMicros(uint32_t ulMicros);
uint64_t spiBytes();
uint64_t spiFrames();
}  // namespace nullboard
