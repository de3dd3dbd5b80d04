// Which GPIO chip carries the board's lines, from the GpioChip setting: a
// path is taken as it is; a label picks the chip of /dev/gpiochip0..15 that
// has it; unset, the chip whose lines are named as the 40-pin header's, as
// the Raspberry Pi kernels name them, wherever the kernel numbered it.
#pragma once

#include <string>

namespace board {

// The chip's path, found at the first call after start or release() (what
// was chosen, or not found, is said then); empty when no chip has the label
// set.
std::string gpioChipPath();

// The chip as messages name it: its path, or the label that no chip has.
std::string gpioChipName();

void forgetGpioChip();

}  // namespace board
