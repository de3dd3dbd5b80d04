// The real board's control face, for the host and tests: which system the
// board functions talk to, and how to stop and forget everything they hold.
#pragma once

#include "System.h"

#define QM_BOARD_EXPORT __attribute__((visibility("default")))

namespace board {

// Binds the board functions to `system` (nullptr: the system's own calls).
// Everything held (descriptors, lines, the interrupt thread, the board file
// read) is released first, so the next call starts afresh.
QM_BOARD_EXPORT void bindSystem(const System* system);

// Stops the interrupt thread and releases every descriptor and line; the
// board file is read again on the next call. A host calls it before it
// unloads the module whose routine the interrupt thread calls.
QM_BOARD_EXPORT void release();

}  // namespace board

// Writes into pszList (NUL-terminated, cut to nSize bytes) the devices the
// board file names that do not exist or cannot be opened, each with its role:
// "/dev/spidev0.0 (SPI), /dev/gpiochip0 (GPIO), /dev/i2c-1 (I2C)". Returns how
// many; 0 and "" when all are there. For a host to say what to enable.
extern "C" QM_BOARD_EXPORT int boardMissingDevices(char* pszList, int nSize);
