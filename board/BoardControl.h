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
