// Free-running 32-bit microsecond counter that stamps chip interrupts.
#pragma once

#include <cstdint>

// Opens the counter. On the board it maps the system timer read-only through
// /dev/mem; elsewhere the host's micros() serves. Prints why and returns false
// when the board timer cannot be mapped (the counter then reads 0).
bool clk_init();
// The counter's current value; it wraps.
uint32_t clk_count();
