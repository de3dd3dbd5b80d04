// Free-running 32-bit microsecond counter that stamps chip interrupts.
#pragma once

#include <cstddef>
#include <cstdint>

// Opens the counter, once per process. A board build reads the SoC's system
// timer, mapped read-only through /dev/mem, when the device tree shows where
// it is and the mapping counts microseconds; otherwise, and in every other
// build, the board functions' micros() (the monotonic clock) serves. A board
// build says in one line which counter it uses. Returns true when the system
// timer is the counter.
bool clk_init();
// The counter's current value; it wraps.
uint32_t clk_count();

// The CPU address of the SoC's peripherals from the device tree's
// /soc/ranges property (big-endian cells: child address, parent address,
// size) with the cell counts of /soc (child) and of the root (parent). False
// when the property is too short or the address needs more than 64 bits.
bool socPeripheralBase(const uint8_t* pRanges, size_t nLength, unsigned nChildCells, unsigned nParentCells,
                       uint64_t& ullBase);
