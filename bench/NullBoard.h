// Control of the benchmarks' instant board.
#pragma once

#include <cstdint>

namespace nullboard {
struct Traffic {
    uint64_t ullBytes, ullFrames;
};
extern uint32_t g_ulMicros;  // the board's clock: advanced by hand
extern Traffic g_traffic;    // moved since start
}  // namespace nullboard
